// Trace facility interface used by the whole runtime.
//
// Every trace call leaves errno as it found it. Code traces through TRACE_VA with the flag byte
// of a trace class: a zero flag costs one test and nothing else.
#pragma once

#include <cerrno>
#include <cstdarg>

#include "diag/traceClasses.h"
#include "pisnp_export.h"

PISNP_API int trPrintf(const char* file, unsigned line, const char* fmt, ...);
PISNP_API int trVPrintf(const char* file, unsigned line, const char* fmt, va_list args);
PISNP_API int trLogDiagMsg(const char* file, unsigned line, unsigned char classFlag,
                           const char* fmt, ...);

template <typename C>
PISNP_API void TRACE_VA(unsigned char classFlag, const char* file, unsigned line, const C* fmt,
                        ...);

// The usual form at a call site: TRACE(TR_MEMORY, "text %d\n", n).
#define TRACE(flag, ...) TRACE_VA<char>((flag), __FILE_NAME__, __LINE__, __VA_ARGS__)
