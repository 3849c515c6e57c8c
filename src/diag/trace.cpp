// Trace output. Until the trace destination exists the calls keep their contract (errno kept,
// nothing written) so that callers compile and run against the final interface.
#include "diag/trace.h"

#include <cstdio>

int trVPrintf(const char*, unsigned, const char*, va_list) { return 0; }

int trPrintf(const char* file, unsigned line, const char* fmt, ...) {
    int saved = errno;
    va_list args;
    va_start(args, fmt);
    int rc = trVPrintf(file, line, fmt, args);
    va_end(args);
    errno = saved;
    return rc;
}

int trLogDiagMsg(const char*, unsigned, unsigned char, const char*, ...) { return 0; }

template <>
PISNP_API void TRACE_VA<char>(unsigned char classFlag, const char* file, unsigned line,
                              const char* fmt, ...) {
    if (classFlag == 0) return;
    int saved = errno;
    va_list args;
    va_start(args, fmt);
    trVPrintf(file, line, fmt, args);
    va_end(args);
    errno = saved;
}
