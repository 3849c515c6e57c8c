// The per-errno table is not in this library yet: every errno translates to the generic
// "unexpected system error" code, which callers already handle.
#include "pisnp/errors.h"
#include "pisnp/resultCodes.h"

int TransErrno(int, const char*) {
    return PISNP_RC_UNEXPECTED;
}
