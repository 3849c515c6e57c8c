// Message logging: the process's log objects, their lines, numbered messages logged by their
// severity, and the event-message dispatcher.
#include "diag/messageLog.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <type_traits>

#include "pisnp/dates.h"
#include "pisnp/globalRC.h"
#include "diag/logFile.h"
#include "mem/checkedAlloc.h"
#include "nls/nlsInternal.h"
#include "nls/nlsMessageApi.h"
#include "pisnp/resultCodes.h"
#include "pisnp/strings.h"
#include "pisnp/trace.h"

// In this order: constructed at load, destroyed in reverse at exit.
DLogFile errorLogFile;
DLogFile schedLogFile;
DLogFile webLogFile;
DAuditLogFile auditLogFile;

int ScheduleMode = 0;

namespace {

// The message in which the schedule log is asked for its next event: never a schedule line.
constexpr unsigned kQueryNextEvent = 11025;
constexpr size_t kStackLine = 1024;
constexpr size_t kWideSchedLine = 8888;
// The name under which the logging's own text blocks are counted.
constexpr char kBlockSource[] = "amsglog.cpp";

// A line of n bytes, on the stack when it fits.
class LineBuffer {
  public:
    explicit LineBuffer(size_t n)
        : data_(n < sizeof stack_ ? stack_
                                  : static_cast<char*>(arcMalloc(n + 1, kBlockSource, __LINE__))) {}
    ~LineBuffer() {
        if (data_ != nullptr && data_ != stack_) arcFree(data_, kBlockSource, __LINE__);
    }
    LineBuffer(const LineBuffer&) = delete;
    LineBuffer& operator=(const LineBuffer&) = delete;
    char* get() { return data_; }

  private:
    char stack_[kStackLine];
    char* data_;
};

bool endsLine(const char* text, size_t n) {
    return n > 0 && text[n - 1] == '\n';
}

// "<date> <time> <text>" (stamp) or the text alone, with a newline when withNewline and the
// text has none, written as one line.
int writeStamped(DLogFile& log, const char* text, bool stamp, bool withNewline, size_t* written) {
    char date[16], time[16];
    nfDate now;
    logfile::stampNow(date, time, &now);
    if (&log == &errorLogFile) log.timeOfLastMsg = now;
    size_t tl = std::strlen(text);
    bool addNewline = withNewline && !endsLine(text, tl);
    size_t head = stamp ? std::strlen(date) + std::strlen(time) + 2 : 0;
    size_t n = head + tl + (addNewline ? 1 : 0);
    LineBuffer buf(n);
    if (buf.get() == nullptr) return ENOMEM;
    char* p = buf.get();
    if (stamp) std::snprintf(p, head + 1, "%s %s ", date, time);
    std::memcpy(p + head, text, tl);
    if (addNewline) p[head + tl] = '\n';
    if (written != nullptr) *written = head + tl;
    return logfile::writeLine(log, p, n);
}

// The error log's time of its last line while it is open, else now.
void stampForConsole(char* date, char* time) {
    if (errorLogFile.file != nullptr) {
        nfDate last = errorLogFile.GetTimeOfLastMsg();
        date[0] = time[0] = '\0';
        dateFmt(&last, date, time);
    } else {
        logfile::stampNow(date, time);
    }
}

template <typename Char>
Char* composeSev(Char*& out, int msgNum, va_list args, unsigned char* sev) {
    return gNlsObject.nlVmessage(msgNum, out, args, sev);
}

template <typename Char>
size_t lengthOf(const Char* s) {
    if constexpr (std::is_same_v<Char, char>)
        return std::strlen(s);
    else
        return std::wcslen(s);
}

// Formats, logs W and above, and (stamp) puts the date and time in front of a logged text when
// console messages are stamped.
template <typename Char>
int logFormatted(Char*& out, int msgNum, va_list args, bool stamp) {
    if (gRC != nullptr) gRC->set(msgNum);
    unsigned char sev = 0;
    composeSev(out, msgNum, args, &sev);
    if (out == nullptr) return 0;
    if (sev >= nlsSevWarning && errorLogFile.file != nullptr) LogMsg(out);
    if (stamp && sev >= nlsSevWarning && gNlsObject.consoleTimeStamp == 1) {
        char date[16], time[16];
        stampForConsole(date, time);
        size_t len = lengthOf(out);
        if constexpr (std::is_same_v<Char, char>) {
            auto* s = static_cast<char*>(arcMalloc(len + 31, kBlockSource, __LINE__));
            if (s != nullptr) {
                std::snprintf(s, len + 31, "%s %s %s", date, time, out);
                arcFree(out, kBlockSource, __LINE__);
                out = s;
            }
        } else {
            size_t room = len + 33;
            auto* s =
                static_cast<wchar_t*>(arcMalloc(room * sizeof(wchar_t), kBlockSource, __LINE__));
            if (s != nullptr) {
                wchar_t wd[16], wt[16];
                std::mbstowcs(wd, date, 16);
                std::mbstowcs(wt, time, 16);
                std::swprintf(s, room, L"%ls %ls %ls", wd, wt, out);
                arcFree(out, kBlockSource, __LINE__);
                out = s;
            }
        }
    }
    return static_cast<int>(lengthOf(out));
}

}  // namespace

// ---- The error log -----------------------------------------------------------------------------

int LogMsg(char* text) {
    if (text == nullptr) return PISNP_RC_INVALID_ARG;
    // Logging switched on (SetMsgLoggingMode) before the log was opened has nowhere to go.
    if (errorLogFile.loggingEnabled != 1 || errorLogFile.file == nullptr) return 0;
    if (nls_mutex == nullptr) return PISNP_RC_INVALID_ARG;
    NlsLock lock;
    if (!lock.held()) return PISNP_RC_INVALID_ARG;
    size_t written = 0;
    int err = writeStamped(errorLogFile, text, true, true, &written);
    if (err != 0) {
        errorLogFile.lastErrno = static_cast<unsigned>(err);
        return PISNP_RC_LOG_WRITE_FAILED;
    }
    return static_cast<int>(written);
}

int LogMsg(wchar_t* text) {
    if (text == nullptr) return PISNP_RC_INVALID_ARG;
    char* narrow = StrDup(static_cast<char*>(nullptr), text);
    if (narrow == nullptr) return PISNP_RC_NO_MEMORY;
    int rc = LogMsg(narrow);
    arcFree(narrow, kBlockSource, __LINE__);
    return rc;
}

void SetMsgLoggingMode(int on) {
    errorLogFile.loggingEnabled = static_cast<unsigned>(on);
    schedLogFile.loggingEnabled = static_cast<unsigned>(on);
}

// ---- Numbered messages ---------------------------------------------------------------------

int nlLogvsprintf(char*& out, int msgNum, va_list args) {
    return logFormatted(out, msgNum, args, true);
}

int nlLogvsprintf(wchar_t*& out, int msgNum, va_list args) {
    return logFormatted(out, msgNum, args, true);
}

int nlLogsprintf(char*& out, int msgNum, ...) {
    va_list args;
    va_start(args, msgNum);
    int n = logFormatted(out, msgNum, args, false);
    va_end(args);
    return n;
}

int nlLogsprintf(wchar_t*& out, int msgNum, ...) {
    va_list args;
    va_start(args, msgNum);
    int n = logFormatted(out, msgNum, args, false);
    va_end(args);
    return n;
}

char* nlLogMessage(char*& out, int msgNum, ...) {
    va_list args;
    va_start(args, msgNum);
    logFormatted(out, msgNum, args, false);
    va_end(args);
    return out;
}

wchar_t* nlLogMessage(wchar_t*& out, int msgNum, ...) {
    va_list args;
    va_start(args, msgNum);
    logFormatted(out, msgNum, args, false);
    va_end(args);
    return out;
}

int psLogNlsMsg(int msgNum, short sev, int enabled, ...) {
    if (gRC != nullptr) gRC->set(msgNum);
    if (enabled == 0) return -1;
    char* text = nullptr;
    va_list args;
    va_start(args, enabled);
    nlLogvsprintf(text, msgNum, args);
    va_end(args);
    if (text == nullptr) return -1;
    psLogMsg(sev, text, enabled);
    ARC_FREE(text);
    return 0;
}

// ---- The schedule log ----------------------------------------------------------------------

int LogSchedMsg(char* text) {
    if (text == nullptr || schedLogFile.loggingEnabled != 1 || schedLogFile.file == nullptr)
        return 0;
    // The line-start flag and the file position belong to all schedule writers together.
    NlsLock lock;
    if (gNlsObject.localCache != nullptr && gNlsObject.localCache->number == kQueryNextEvent)
        return 0;
    bool stamp = gNlsObject.schedLineStart == 1;
    int err = writeStamped(schedLogFile, text, stamp, false, nullptr);
    if (err != 0) schedLogFile.lastErrno = static_cast<unsigned>(err);
    gNlsObject.schedLineStart = endsLine(text, std::strlen(text)) ? 1 : 0;
    return 0;
}

int LogSchedMsg(wchar_t* text) {
    if (text == nullptr) return 0;
    char line[kWideSchedLine];
    std::mbstate_t state{};
    const wchar_t* src = text;
    size_t n = std::wcsrtombs(line, &src, sizeof line - 1, &state);
    if (n == static_cast<size_t>(-1)) return 0;
    line[n] = '\0';
    return LogSchedMsg(line);
}

int scheduleLine(char* text) {
    if (ScheduleMode == 1 && schedLogFile.loggingEnabled == 1) LogSchedMsg(text);
    return 0;
}

// ---- Event messages ------------------------------------------------------------------------

namespace {

// The caller hands its va_list on as a pointer: on the hosts' platform va_list is itself a
// character pointer, elsewhere an array that decays to a pointer when passed.
// (The compiler's own va_list record carries attributes that a type alias drops; harmless.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"
#pragma GCC diagnostic ignored "-Wignored-attributes"
using VaPointer = std::decay_t<va_list>;
static_assert(std::is_pointer_v<VaPointer>, "va_list must pass as a pointer");
VaPointer argsOf(char* args) {
    return reinterpret_cast<VaPointer>(args);
}

void tooBig(int size, int avail) {
    if (TR_ERROR != 0)
        TRACE(TR_ERROR, "nlLogPrintf(): msgSize(%d) greater than avail(%d); returning.\n", size,
              avail);
}

}  // namespace

unsigned short nlLogPrintf(eventLog_t* ev, char* buf, unsigned short avail, char* args) {
    if (TR_ENTER != 0 && TR_DEBUG != 0) TRACE(TR_ENTER, "Enter: nlLogPrintf\n");
    if (ev == nullptr || buf == nullptr) return 0;
    TRACE(TR_EVENT, "nlLogPrintf: msg number = %d\n", ev->msgNum);
    auto ap = argsOf(args);
    size_t header = 0;
    if ((ev->flags & 0x08) != 0) {
        char* cursor = buf;
        va_list copy;
        va_copy(copy, ap);
        int ok = gNlsObject.nlEventMessage(ev, &cursor, copy);
        va_end(copy);
        if (ok == 0) return 0;
        header = static_cast<size_t>(cursor - buf);
        if (header > avail) {
            tooBig(static_cast<int>(header), avail);
            return 0;
        }
    }
    char* text = nullptr;
    unsigned char sev = 0;
    va_list copy;
    va_copy(copy, ap);
    gNlsObject.nlVmessage(ev->msgNum, text, copy, &sev);
    va_end(copy);
    if (gRC != nullptr) gRC->set(ev->msgNum);
    if (text == nullptr) {
        TRACE(TR_ERROR, "nlLogPrintf(): No memory to generate %d message; returning.\n",
              ev->msgNum);
        return 0;
    }
    size_t len = std::strlen(text);
    ev->msgLen = static_cast<unsigned short>(len);
    if (header + len > avail) {
        tooBig(static_cast<int>(header + len), avail);
        arcFree(text, kBlockSource, __LINE__);
        return 0;
    }
    std::memcpy(buf + header, text, len);
    if (header + len < avail) buf[header + len] = '\0';
    if ((ev->flags & 0x01) != 0) {
        TRACE(TR_TEST, "adding newline character to buffer\n");
        auto* longer = static_cast<char*>(arcMalloc(len + 2, kBlockSource, __LINE__));
        if (longer != nullptr) {
            std::memcpy(longer, text, len);
            longer[len] = '\n';
            longer[len + 1] = '\0';
            arcFree(text, kBlockSource, __LINE__);
            text = longer;
        }
    }
    if ((ev->flags & 0x02) != 0) {
        if (TEST_CLC_TIMESTAMP.on != 0 ||
            (sev >= nlsSevWarning && gNlsObject.consoleTimeStamp == 1)) {
            char date[16], time[16];
            logfile::stampNow(date, time);
            std::printf("%s %s ", date, time);
        }
        std::fputs(text, stdout);
    }
    if ((ev->flags & 0x04) != 0) LogMsg(text);
    if ((ev->flags & 0x40) == 0 && ScheduleMode == 1 && schedLogFile.loggingEnabled == 1)
        LogSchedMsg(text);
    if ((ev->flags & 0x20) != 0) msgOut(sev, text);
    arcFree(text, kBlockSource, __LINE__);
    return static_cast<unsigned short>(header + len);
}
#pragma GCC diagnostic pop
