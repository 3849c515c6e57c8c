// The per-errno table is not in this library yet: every errno translates to the generic
// "unexpected system error" code, which callers already handle.
#include "os/errnoTranslation.h"

int TransErrno(int, const char*) {
    return 131;
}
