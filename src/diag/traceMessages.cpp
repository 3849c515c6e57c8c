// Numbered and diagnostic messages on the trace, and the error program that is handed the
// text of serious messages.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "pisnp/globalRC.h"
#include "diag/messageLog.h"
#include "diag/traceInternal.h"
#include "mem/checkedAlloc.h"
#include "nls/nlsMessageApi.h"
#include "pisnp/resultCodes.h"

using namespace trace_detail;

namespace {

constexpr unsigned kLastLoggedOnlyMessage = 9999;
constexpr int kErrorProgFailed = 9293;

// Bit 1 (value 2) of a class flag only asks for the error program; any other bit asks for the
// trace.
bool wantsTrace(unsigned char classFlag) {
    return classOn(TR_ERROR) || (classFlag & ~2u) != 0;
}

// The diagnostic text goes to the error log behind the text of message 361.
void logDiagnostic(const char* text) {
    char* lead = nullptr;
    nlMessage(lead, 361);
    size_t leadLen = lead != nullptr ? std::strlen(lead) : 0;
    size_t size = leadLen + std::strlen(text) + 1;
    char* line = static_cast<char*>(arcMalloc(size, kSource, __LINE__));
    if (line != nullptr) {
        std::snprintf(line, size, "%s%s", lead != nullptr ? lead : "", text);
        LogMsg(line);
        arcFree(line, kSource, __LINE__);
    }
    if (lead != nullptr) arcFree(lead, kSource, __LINE__);
}

int logDiagFormatted(const char* file, unsigned line, unsigned char classFlag,
                     int (*format)(char*, size_t, const void*, va_list), const void* fmt,
                     va_list args) {
    bool logging = !TEST_DISABLE_DIAG_LOGMSGS.on;
    bool canTrace = trCanOutPut() != 0;
    if (!logging && !canTrace) return 0;
    char* buf = static_cast<char*>(arcMalloc(kTextSize, kSource, __LINE__));
    if (buf == nullptr) return PISNP_RC_NO_MEMORY;
    size_t used = fileLinePart(buf, kTextSize, file, line);
    format(buf + used, kTextSize - used, fmt, args);
    if (logging) logDiagnostic(buf);
    int rc = 0;
    if (canTrace && wantsTrace(classFlag)) {
        trOutTSTrMessage(buf);
        rc = static_cast<int>(std::strlen(buf));
    }
    arcFree(buf, kSource, __LINE__);
    return rc;
}

int formatNarrow(char* out, size_t size, const void* fmt, va_list args) {
    return std::vsnprintf(out, size, static_cast<const char*>(fmt), args);
}

int formatWide(char* out, size_t size, const void* fmt, va_list args) {
    wchar_t* wide =
        static_cast<wchar_t*>(arcMalloc(kTextSize * sizeof(wchar_t), kSource, __LINE__));
    *out = '\0';
    if (wide == nullptr) return 0;
    int rc = std::vswprintf(wide, kTextSize, static_cast<const wchar_t*>(fmt), args);
    if (rc < 0) wide[kTextSize - 1] = L'\0';
    std::mbstate_t state{};
    const wchar_t* src = wide;
    size_t n = std::wcsrtombs(out, &src, size - 1, &state);
    out[n == static_cast<size_t>(-1) ? 0 : n] = '\0';
    arcFree(wide, kSource, __LINE__);
    return rc;
}

void reportErrorProgFailure(const char* what, int err) {
    TraceObject* t = traceObj;
    // Once per object; set first, since the report itself may reach the error program.
    if (t == nullptr || t->errorProgFailed.exchange(1) != 0) return;
    trNlsLogPrintf(kSource, __LINE__, TR_GENERAL, kErrorProgFailed, what, std::strerror(err));
}

}  // namespace

int trace_detail::vlogDiag(const char* file, unsigned line, unsigned char classFlag,
                           const char* fmt, va_list args) {
    ErrnoKeeper keep;
    return logDiagFormatted(file, line, classFlag, formatNarrow, fmt, args);
}

int trace_detail::vNlsPrintf(const char* file, unsigned line, unsigned msgNum, va_list args) {
    ErrnoKeeper keep;
    TraceObject* t = traceObj;
    if (t == nullptr || t->stream.load() == nullptr || !trCanOutPut()) return 0;
    if (gRC != nullptr) gRC->set(static_cast<int>(msgNum));
    char buf[kTextSize];
    size_t used = fileLinePart(buf, sizeof buf, file, line);
    char* text = nullptr;
    nlLogvsprintf(text, static_cast<int>(msgNum), args);
    if (text != nullptr) {
        std::snprintf(buf + used, sizeof buf - used, "%s", text);
        arcFree(text, kSource, __LINE__);
    }
    return trOutTSTrMessage(buf);
}

int trNlsPrintf(const char* file, unsigned line, unsigned msgNum, ...) {
    va_list args;
    va_start(args, msgNum);
    int rc = vNlsPrintf(file, line, msgNum, args);
    va_end(args);
    return rc;
}

int trLogDiagMsg(const char* file, unsigned line, unsigned char classFlag, const char* fmt, ...) {
    ErrnoKeeper keep;
    va_list args;
    va_start(args, fmt);
    int rc = logDiagFormatted(file, line, classFlag, formatNarrow, fmt, args);
    va_end(args);
    return rc;
}

int trLogDiagMsg(const char* file, unsigned line, unsigned char classFlag, const wchar_t* fmt,
                 ...) {
    ErrnoKeeper keep;
    va_list args;
    va_start(args, fmt);
    int rc = logDiagFormatted(file, line, classFlag, formatWide, fmt, args);
    va_end(args);
    return rc;
}

int trace_detail::vNlsLogPrintf(const char* file, unsigned line, unsigned char classFlag,
                                unsigned msgNum, va_list args) {
    ErrnoKeeper keep;
    if (gRC != nullptr) gRC->set(static_cast<int>(msgNum));
    TraceObject* t = traceObj;
    bool traceIt = trCanOutPut() && wantsTrace(classFlag);
    char* text = nullptr;
    int rc = 0;
    int logRc = 0;
    if (msgNum > kLastLoggedOnlyMessage) {
        rc = nlvsprintf(text, static_cast<int>(msgNum), args);
        if (text != nullptr) {
            size_t size = std::strlen(file) + std::strlen(text) + 30;
            if (char* entry = static_cast<char*>(arcMalloc(size, kSource, __LINE__))) {
                std::snprintf(entry, size, "%-20s(%4u): %s", file, line, text);
                logRc = LogMsg(entry);
                arcFree(entry, kSource, __LINE__);
            }
            if (traceIt) trPrintf(file, line, "%s", text);
        }
    } else {
        rc = nlLogvsprintf(text, static_cast<int>(msgNum), args);
        if (text != nullptr) {
            if (traceIt) trPrintf(file, line, "%s", text);
            if (t != nullptr && t->errorFile != nullptr) {
                std::fputs(text, t->errorFile);
                std::fflush(t->errorFile);
            }
        }
    }
    if (text != nullptr && t != nullptr && t->errorFile == nullptr && t->errorProg[0] != '\0' &&
        (classFlag & 2u) != 0)
        doErrorProg(text);
    if (text != nullptr) arcFree(text, kSource, __LINE__);
    return logRc != 0 ? -logRc : rc;
}

int trNlsLogPrintf(const char* file, unsigned line, unsigned char classFlag, unsigned msgNum, ...) {
    va_list args;
    va_start(args, msgNum);
    int rc = vNlsLogPrintf(file, line, classFlag, msgNum, args);
    va_end(args);
    return rc;
}

int doErrorProg(const char* text) {
    ErrnoKeeper keep;
    TraceObject* t = traceObj;
    if (t == nullptr || text == nullptr) return 0;
    char path[sizeof t->errorProg];
    size_t n = std::strcspn(t->errorProg, " ");
    std::memcpy(path, t->errorProg, n);
    path[n] = '\0';
    if (access(path, X_OK) != 0) {
        reportErrorProgFailure(path, errno);
        return 0;
    }
    // A program that exits without reading must not take the host down with SIGPIPE: the
    // signal is held back on this thread during the write and any instance of it discarded.
    sigset_t pipeSet;
    sigset_t oldSet;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSet, &oldSet);
    FILE* pipe = popen(t->errorProg, "w");
    if (pipe == nullptr) {
        int err = errno;
        pthread_sigmask(SIG_SETMASK, &oldSet, nullptr);
        reportErrorProgFailure(t->errorProg, err);
        return -1;
    }
    errno = 0;
    bool written = std::fputs(text, pipe) >= 0 && std::fflush(pipe) == 0;
    int err = errno;
    bool closed = pclose(pipe) != -1;
    if (!closed && err == 0) err = errno;
    if (err == EPIPE) {
        timespec none{};
        sigtimedwait(&pipeSet, nullptr, &none);
    }
    pthread_sigmask(SIG_SETMASK, &oldSet, nullptr);
    if (!written || !closed) reportErrorProgFailure(t->errorProg, err);
    return 0;
}
