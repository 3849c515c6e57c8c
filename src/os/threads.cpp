#include "os/threads.h"

#include <sys/select.h>
#include <unistd.h>

#include "diag/trace.h"

void psThreadDelay(int ms) {
    // Only delays of a second or more are worth a line each; shorter ones come in loops.
    bool traced = TR_THREAD != 0 && ms >= 1000;
    if (traced) TRACE(TR_THREAD, "Thread %d delaying for %d milliseconds.\n", gettid(), ms);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    select(0, nullptr, nullptr, nullptr, &tv);
    if (traced) TRACE(TR_THREAD, "Thread %d awakened.\n", gettid());
}
