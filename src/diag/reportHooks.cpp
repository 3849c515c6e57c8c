// Connects the layers below diagnostics to the trace facility, the error log and the process's
// return code, as soon as the library is loaded.
#include "base/report.h"
#include "pisnp/globalRC.h"
#include "diag/messageLog.h"
#include "diag/traceInternal.h"
#include "pisnp/logs.h"

namespace {

void messageIssued(int msgNum) {
    if (gRC != nullptr) gRC->set(msgNum);
}

int traceLine(const char* file, unsigned line, const char* fmt, va_list args) {
    return trVPrintf(file, line, fmt, args);
}

[[maybe_unused]] const bool gInstalled = [] {
    pisnp::report::install({traceLine, trace_detail::vlogDiag, LogMsg, messageIssued, scheduleLine,
                            trace_detail::vNlsPrintf, trace_detail::vNlsLogPrintf});
    return true;
}();

}  // namespace
