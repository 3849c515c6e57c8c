// Trace output: formatting, the line prefix, and the routes to each kind of destination.
#include <pthread.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <cwchar>

#include "pisnp/dates.h"
#include "base/sysCalls.h"
#include "diag/traceInternal.h"
#include "mem/checkedAlloc.h"
#include "nls/nlsMessageApi.h"
#include "pisnp/strings.h"
#include "text/byteDump.h"

using namespace trace_detail;
using text_detail::renderBytes;

namespace {

// Bytes a banner line is assumed to need when making room for it in a bounded file.
constexpr size_t kBannerWrapLen = 68;

// Converts wide text behind what buf already holds; text that cannot be converted is left out.
void appendWide(char* buf, size_t size, size_t used, const wchar_t* wide) {
    std::mbstate_t state{};
    const wchar_t* src = wide;
    size_t n = std::wcsrtombs(buf + used, &src, size - used - 1, &state);
    buf[n == static_cast<size_t>(-1) ? used : used + n] = '\0';
}

// The date and time texts of the present second. Formatting them is the dearest part of a
// line, and they change once a second: each thread keeps the texts of the last second it saw
// (so a change of the locale's formats shows from the next second on).
struct StampTexts {
    time_t second = -1;
    unsigned long micros = 0;
    char date[16] = "";
    char time[16] = "";
};

const StampTexts& stampTexts() {
    thread_local StampTexts cache;
    timeval tv{};
    gettimeofday(&tv, nullptr);
    cache.micros = static_cast<unsigned long>(tv.tv_usec);
    if (tv.tv_sec != cache.second) {
        nfDate now;
        long micros = 0;
        GetTimeOfDay(&now, &micros);
        dateFmt(&now, cache.date, cache.time);
        cache.second = tv.tv_sec;
        cache.micros = static_cast<unsigned long>(micros);
    }
    return cache;
}

// getpid is a system call; the value only changes in a forked child.
std::atomic<unsigned> cachedPid{0};

unsigned processId() {
    unsigned pid = cachedPid.load(std::memory_order_relaxed);
    if (pid == 0) {
        static const int registered =
            pthread_atfork(nullptr, nullptr, [] { cachedPid.store(0, std::memory_order_relaxed); });
        (void)registered;
        pid = static_cast<unsigned>(getpid());
        cachedPid.store(pid, std::memory_order_relaxed);
    }
    return pid;
}

void reportWriteFailure(bool raw, int err) {
    TraceObject* t = traceObj;
    if (t == nullptr) return;
    char name[sizeof t->traceFileName];
    std::strcpy(name, t->traceFileName);
    trReset(1);
    if (raw)
        std::printf("Unable to write to trace file %s error is (%d) %s. Tracing disabled.\n", name,
                    err, std::strerror(err));
    else
        std::printf("Unable to write to trace file %s. Tracing disabled.\n", name);
}

// Writes head and text to the destination. checkLen is the room to make in a bounded file.
// Writes to any real file go under the wrap lock: a close (which takes it too) then never
// pulls the stream from under a writer.
int emit(const char* head, const char* text, size_t checkLen, bool raw) {
    TraceObject* t = traceObj;
    if (t == nullptr) return 0;
    if (t->consoleMode.load(std::memory_order_relaxed)) {
        if (t->consoleCallback != nullptr)
            t->consoleCallback(trConsoleText, text, t->consoleCallbackArg);
        return 0;
    }
    FILE* s = t->stream.load(std::memory_order_relaxed);
    if (s == nullptr) return 0;
    long rc = 0;
    int err = 0;
    if (isStdStream(s)) {
        if (t->stdoutAllowed.load(std::memory_order_relaxed)) {
            errno = 0;
            rc = std::fprintf(s, "%s%s", head, text);
            err = errno;
        }
        std::fflush(s);
    } else {
        WrapLock lock;
        s = t->stream.load(std::memory_order_relaxed);
        if (s == nullptr) return 0;
        errno = 0;
        if (t->wrapEnabled.load(std::memory_order_relaxed) && !isStdStream(s)) {
            ckwrap(checkLen);
            const char* pieces[] = {head, text};
            rc = writeBounded(pieces, 2);
        } else {
            // A plain file's text sits in the stream's buffer until the flush, which is where
            // a full disk shows.
            rc = std::fprintf(s, "%s%s", head, text);
            if (pisnp::sys::fflush(s) != 0) rc = -1;
        }
        err = errno;
    }
    if (rc < 0) reportWriteFailure(raw, err);
    return static_cast<int>(rc);
}

// Accumulates raw output and hands it to trPrint in large pieces.
class RawBatch {
  public:
    explicit RawBatch(char* out = nullptr) : out_(out) {
        if (out_ != nullptr) *out_ = '\0';
    }
    ~RawBatch() { flush(); }
    void add(const char* text) {
        if (out_ != nullptr) {
            std::strcat(out_, text);
            return;
        }
        size_t len = std::strlen(text);
        if (used_ + len >= sizeof buf_) flush();
        if (len >= sizeof buf_) {
            trPrint("%s", text);
            return;
        }
        std::memcpy(buf_ + used_, text, len + 1);
        used_ += len;
    }
    void flush() {
        if (used_ > 0) trPrint("%s", buf_);
        used_ = 0;
        buf_[0] = '\0';
    }

  private:
    char* out_;
    char buf_[4096] = "";
    size_t used_ = 0;
};

// "%08p" as the C library prints it, without the format warning that flag draws.
void formatPointer(char* out, size_t size, const void* p) {
    if (p == nullptr)
        std::snprintf(out, size, "%8s", "(nil)");
    else
        std::snprintf(out, size, "%#08lx", reinterpret_cast<unsigned long>(p));
}

}  // namespace

namespace trace_detail {

size_t fileLinePart(char* buf, size_t size, const char* file, unsigned line) {
    TextBuilder out(buf, size);
    if (classOn(TR_PREFIX)) out.leftAligned(file, 20).ch('(').number(line, 4, ' ').text("): ");
    return out.length();
}

}  // namespace trace_detail

int trCanOutPut() {
    TraceObject* t = traceObj;
    if (t == nullptr) return 0;
    FILE* s = t->stream.load(std::memory_order_relaxed);
    if (s == nullptr || !t->tracingState.load(std::memory_order_relaxed)) return 0;
    return t->stdoutAllowed.load(std::memory_order_relaxed) ||
                   t->consoleMode.load(std::memory_order_relaxed) || !isStdStream(s)
               ? 1
               : 0;
}

int trVPrintf(const char* file, unsigned line, const char* fmt, va_list args) {
    ErrnoKeeper keep;
    if (!trCanOutPut()) return 0;
    char buf[kTextSize];
    size_t used = fileLinePart(buf, sizeof buf, file, line);
    int rc = std::vsnprintf(buf + used, sizeof buf - used, fmt, args);
    trOutTSTrMessage(buf);
    return rc;
}

int trPrintf(const char* file, unsigned line, const char* fmt, ...) {
    ErrnoKeeper keep;
    va_list args;
    va_start(args, fmt);
    int rc = trVPrintf(file, line, fmt, args);
    va_end(args);
    return rc;
}

int trVPrintf(const char* file, unsigned line, const wchar_t* fmt, va_list args) {
    ErrnoKeeper keep;
    if (!trCanOutPut()) return 0;
    wchar_t wide[kTextSize];
    int rc = std::vswprintf(wide, kTextSize, fmt, args);
    if (rc < 0) wide[kTextSize - 1] = L'\0';
    char buf[kTextSize];
    size_t used = fileLinePart(buf, sizeof buf, file, line);
    appendWide(buf, sizeof buf, used, wide);
    trOutTSTrMessage(buf);
    return rc;
}

int trPrintf(const char* file, unsigned line, const wchar_t* fmt, ...) {
    ErrnoKeeper keep;
    va_list args;
    va_start(args, fmt);
    int rc = trVPrintf(file, line, fmt, args);
    va_end(args);
    return rc;
}

int trPrint(const char* fmt, ...) {
    ErrnoKeeper keep;
    if (!trCanOutPut()) return 0;
    char buf[kTextSize];
    va_list args;
    va_start(args, fmt);
    int rc = std::vsnprintf(buf, sizeof buf, fmt, args);
    va_end(args);
    trOutTrMessage(buf);
    return rc;
}

int trPrint(const wchar_t* fmt, ...) {
    ErrnoKeeper keep;
    if (!trCanOutPut()) return 0;
    wchar_t wide[kTextSize];
    va_list args;
    va_start(args, fmt);
    int rc = std::vswprintf(wide, kTextSize, fmt, args);
    va_end(args);
    if (rc < 0) wide[kTextSize - 1] = L'\0';
    char buf[kTextSize];
    appendWide(buf, sizeof buf, 0, wide);
    trOutTrMessage(buf);
    return rc;
}

int trOutTSTrMessage(const char* text) {
    ErrnoKeeper keep;
    TraceObject* t = traceObj;
    if (t == nullptr || t->stream.load(std::memory_order_relaxed) == nullptr) return 0;
    char prefix[kPrefixSize];
    TextBuilder out(prefix, sizeof prefix);
    bool stamp = classOn(TR_TIMESTAMP);
    bool pid = classOn(TR_PID);
    bool tid = classOn(TR_TID);
    if (stamp) {
        const StampTexts& texts = stampTexts();
        out.text(texts.date).ch(' ').text(texts.time).ch('.').number(texts.micros / 1000, 3, '0');
        out.ch(' ');
    }
    if (pid) out.ch('[').number(processId(), 6, '0').text("] ");
    if (tid && t->tidProc != nullptr) {
        char banner[2 * kPrefixSize] = "";
        char tidText[2 * kPrefixSize] = "";
        t->tidProc(banner, tidText);
        if (banner[0] != '\0') emit("", banner, kBannerWrapLen, false);
        out.text(tidText);
    }
    if (classOn(TR_CLIENTTYPE)) out.text(clientLabel(t->clientType));
    if (stamp || pid || tid) out.text(": ");
    size_t used = out.length();
    return emit(prefix, text, used + std::strlen(text), false);
}

int trOutTrMessage(const char* text) {
    ErrnoKeeper keep;
    return emit("", text, std::strlen(text), true);
}

int trPrintStr(unsigned char* data, int len, CharForm form) {
    ErrnoKeeper keep;
    if (!trCanOutPut() || len <= 0 || data == nullptr) return 0;
    TraceObject* t = traceObj;
    size_t n = 2 * static_cast<size_t>(len);
    if (form == cfHexGrouped && len > 4) n += static_cast<size_t>((len - 1) / 4 + (len - 1) / 32);

    FILE* s = t->stream.load(std::memory_order_relaxed);
    bool toBuffer = t->consoleMode.load() || (!isStdStream(s) && t->wrapEnabled.load());
    if (!toBuffer) {
        if (isStdStream(s)) {
            if (!t->stdoutAllowed.load()) return 0;
            renderBytes(data, len, form, [s](const char* p, size_t k) { std::fwrite(p, 1, k, s); });
            std::fflush(s);
            return 0;
        }
        WrapLock lock;
        s = t->stream.load(std::memory_order_relaxed);
        if (s == nullptr) return 0;
        renderBytes(data, len, form, [s](const char* p, size_t k) { std::fwrite(p, 1, k, s); });
        std::fflush(s);
        return 0;
    }

    char* buf = static_cast<char*>(arcMalloc(n + 1, kSource, __LINE__));
    if (buf == nullptr) return 0;
    size_t used = 0;
    renderBytes(data, len, form, [&](const char* p, size_t k) {
        std::memcpy(buf + used, p, k);
        used += k;
    });
    buf[used] = '\0';
    if (t->consoleMode.load()) {
        if (t->consoleCallback != nullptr)
            t->consoleCallback(trConsoleText, buf, t->consoleCallbackArg);
    } else {
        emit("", buf, n, true);
    }
    arcFree(buf, kSource, __LINE__);
    return 0;
}

int trPrintFormattedDump(void* addr, unsigned len, unsigned char width) {
    ErrnoKeeper keep;
    if (!trCanOutPut()) return 0;
    // A row width of 0 would never end a row: use the customary sixteen.
    unsigned w = width != 0 ? width : 16;
    const unsigned char* bytes = static_cast<const unsigned char*>(addr);
    char from[32];
    char to[32];
    formatPointer(from, sizeof from, bytes);
    formatPointer(to, sizeof to, bytes + len);
    trPrint("\nDumping Memory Range %s - %s (%d Bytes)\n\n", from, to, static_cast<int>(len));

    RawBatch out;
    char piece[64];
    std::snprintf(piece, sizeof piece, "\n\n%s: ", from);
    out.add(piece);
    auto chars = [&](unsigned rowStart, unsigned count) {
        out.add("    ");
        for (unsigned k = 0; k < count; ++k) {
            unsigned char c = bytes[rowStart + k];
            char one[2] = {IsPrint(static_cast<char>(c)) ? static_cast<char>(c) : '.', '\0'};
            out.add(one);
        }
    };
    for (unsigned i = 0; i < len; ++i) {
        std::snprintf(piece, sizeof piece, "%02X ", bytes[i]);
        out.add(piece);
        if ((i + 1) % w == 0) {
            chars(i + 1 - w, w);
            if (i + 1 < len) {
                std::snprintf(piece, sizeof piece, "\n%08X: ",
                              static_cast<unsigned>(reinterpret_cast<uintptr_t>(bytes + i + 1)));
                out.add(piece);
            }
        }
    }
    unsigned rest = len % w;
    if (rest != 0) {
        for (unsigned k = rest; k < w; ++k) out.add("   ");
        chars(len - rest, rest);
    }
    out.add("\n\n");
    return 0;
}

int trQuery() {
    ErrnoKeeper keep;
    if (!trCanOutPut()) return 0;
    trPrintf(kSource, __LINE__, "Current trace classes enabled: \n");
    RawBatch out;
    bool any = false;
    for (const TrClass* c = ClassTable; c->name != nullptr; ++c) {
        if (!classOn(*c->flag)) continue;
        if (any) out.add(", ");
        out.add(c->name);
        any = true;
    }
    out.add(any ? "\n\n" : "None\n\nTracing not active.\n");
    return 0;
}

int trStatus(unsigned char what, char* out) {
    ErrnoKeeper keep;
    TraceObject* t = traceObj;
    if (t == nullptr) return 0;
    if (out == nullptr && !trCanOutPut()) return 0;
    RawBatch report(out);
    char line[kTokenSize + 32];
    std::snprintf(line, sizeof line, "  TRACEFILE:    %s\n", t->baseFileName);
    report.add(line);
    std::snprintf(line, sizeof line, "  TRACEMAX :    %u\n", t->maxSizeMB);
    report.add(line);
    std::snprintf(line, sizeof line, "  TRACESEGSIZE: %u\n", t->segSizeMB);
    report.add(line);
    std::snprintf(line, sizeof line, "  TRACE STATUS: %s\n\n",
                  t->running.load() ? "Enabled" : "Disabled");
    report.add(line);
    if (what < 101 || what > 103) return 0;

    char* heading = nullptr;
    if (nlMessage(heading, 11230 + (what - 101)) != nullptr) {
        report.add(heading);
        arcFree(heading, kSource, __LINE__);
    }
    bool left = true;
    for (const TrClass* c = ClassTable; c->name != nullptr; ++c) {
        bool on = classOn(*c->flag);
        if (what == 103) {
            std::snprintf(line, sizeof line, "  %-23s%s%s", c->name, on ? "ON " : "OFF",
                          left ? "     " : "\n");
            report.add(line);
            left = !left;
        } else if (on == (what == 101)) {
            std::snprintf(line, sizeof line, "  %s\n", c->name);
            report.add(line);
        }
    }
    if (what == 103) report.add("\n");
    return 0;
}

template <>
void TRACE_VA<char>(unsigned char classFlag, const char* file, unsigned line, const char* fmt,
                    ...) {
    if (classFlag == 0) return;
    ErrnoKeeper keep;
    va_list args;
    va_start(args, fmt);
    trVPrintf(file, line, fmt, args);
    va_end(args);
}

template <typename C>
TREnterExit<C>::TREnterExit(const char* file, unsigned line, const C* function, int* rc)
    : file_(file), line_(line), function_(function), rc_(rc) {
    ErrnoKeeper keep;
    if (classOn(TR_ENTER)) trPrintf(file_, line_, "ENTER =====> %s\n", function_);
}

template <typename C>
TREnterExit<C>::~TREnterExit() {
    ErrnoKeeper keep;
    if (!classOn(TR_EXIT)) return;
    if (rc_ != nullptr)
        trPrintf(file_, line_, "EXIT  <===== %s, rc = %d\n", function_, *rc_);
    else
        trPrintf(file_, line_, "EXIT  <===== %s\n", function_);
}

template class TREnterExit<char>;
