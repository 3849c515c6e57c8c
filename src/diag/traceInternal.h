// Shared inside the trace facility only: the trace object, its locks and the bounded-file
// writer.
//
// Lock order: the wrap lock is always taken before the object lock. A segment switch happens
// inside a write, with the wrap lock held, and reopens the file under the object lock; so every
// other path that needs both (begin, close, reset) takes the wrap lock first. Both locks are
// recursive because a write may switch segments from inside trBegin's own announcement.
#pragma once

#include <pthread.h>
#include <sys/types.h>

#include <atomic>
#include <cerrno>
#include <cstddef>

#include "base/errnoKeeper.h"
#include "pisnp/trace.h"

struct TraceObject {
    std::atomic<FILE*> stream;  // null when no destination is open
    FILE* errorFile;
    off_t dataStartPos;  // just behind the file header: where a wrapped file starts over
    off_t nextWritePos;  // where the next text goes; also kept in the header
    pthread_mutex_t objectLock;
    std::atomic<unsigned long> lastThread;
    cliType_t clientType;
    char errorProg[128];
    std::atomic<int> commTracing;
    std::atomic<int> wrapEnabled;
    int defaultsPending;
    std::atomic<int> errorProgFailed;
    std::atomic<int> stdoutAllowed;
    char baseFileName[4352];
    char traceFileName[4360];
    unsigned maxSizeMB;
    int sizeOptionGiven;
    unsigned segSizeMB;
    unsigned segmentCount;  // 0 or 1: one file; all-ones: unbounded
    unsigned currentSegment;
    unsigned previousSegment;
    unsigned lastSegSizeMB;
    int segmentSwitching;
    std::atomic<int> tracingState;
    std::atomic<int> consoleMode;
    trConsoleCallback_t consoleCallback;
    void* consoleCallbackArg;
    trTidProc_t tidProc;
    std::atomic<int> running;
};

namespace trace_detail {

inline constexpr size_t kTextSize = 17470;
inline constexpr size_t kPrefixSize = 128;
inline constexpr size_t kTokenSize = 4352;
inline constexpr char kEndOfData[] = "\nEND OF DATA\n\n";
inline constexpr size_t kEndOfDataLen = sizeof kEndOfData - 1;

// Class flags are plain bytes to the code that tests them; inside the facility they are read
// and written as relaxed atomics so that enabling on one thread while others trace is defined.
inline bool classOn(unsigned char& flag) {
    return std::atomic_ref<unsigned char>(flag).load(std::memory_order_relaxed) != 0;
}
inline void setClass(unsigned char& flag, unsigned char value) {
    std::atomic_ref<unsigned char>(flag).store(value, std::memory_order_relaxed);
}
// Every class but the first (ERROR), which only the enable functions change.
void clearClassesButFirst();

using pisnp::ErrnoKeeper;

// trLogDiagMsg with its arguments already taken: what the layers below report through.
int vlogDiag(const char* file, unsigned line, unsigned char classFlag, const char* fmt,
             va_list args);
// trNlsPrintf and trNlsLogPrintf with their inserts already taken.
int vNlsPrintf(const char* file, unsigned line, unsigned msgNum, va_list args);
int vNlsLogPrintf(const char* file, unsigned line, unsigned char classFlag, unsigned msgNum,
                  va_list args);

// Holds the wrap lock with deferred cancellation, so that a cancelled writer cannot leave the
// lock taken.
class WrapLock {
  public:
    WrapLock();
    ~WrapLock();
    WrapLock(const WrapLock&) = delete;
    WrapLock& operator=(const WrapLock&) = delete;

  private:
    int oldCancelType_;
};

class ObjectLock {
  public:
    explicit ObjectLock(TraceObject* t);
    ~ObjectLock();
    void release();
    ObjectLock(const ObjectLock&) = delete;
    ObjectLock& operator=(const ObjectLock&) = delete;

  private:
    TraceObject* t_;
};

void markWrapLockInitialised();
void markWrapLockDestroyed();

inline bool isStdStream(FILE* f) {
    return f == stdout || f == stderr;
}

// How a trace file is opened. None ever follows a symbolic link in the file's place (the open
// fails with ELOOP), and a file that does not exist yet is created new, for the owner only.
enum class TraceOpen { reuse, recreate, append };
FILE* openTraceFile(const char* path, TraceOpen how);

// Bounded trace files (wrap lock held for all of these).
// Opens or reuses the file named traceFileName and writes its start; false (errno ELOOP for a
// symbolic link) when it cannot be opened.
bool openBoundedFile(TraceObject* t);
// Makes room for len bytes: wraps the file or switches to the next segment.
void ckwrap(size_t len);
// Writes the pieces at nextWritePos followed by the end marker, and records the next write.
// Returns the bytes of the pieces written, or -1.
long writeBounded(const char* const* pieces, int count);
// Writes text at nextWritePos without moving it (the closing marker).
bool writeAtNext(const char* text);
// Appends to a fixed buffer, always terminated, silently cut at its end. Trace lines are built
// with this rather than snprintf: the prefix is on every line and printf is its dearest part.
class TextBuilder {
  public:
    TextBuilder(char* buf, size_t size) : buf_(buf), size_(size) { buf_[0] = '\0'; }
    size_t length() const { return used_; }
    TextBuilder& text(const char* s) {
        while (*s != '\0' && used_ + 1 < size_) buf_[used_++] = *s++;
        buf_[used_] = '\0';
        return *this;
    }
    TextBuilder& ch(char c) {
        if (used_ + 1 < size_) buf_[used_++] = c;
        buf_[used_] = '\0';
        return *this;
    }
    // "%-Ns": the text, then blanks up to width.
    TextBuilder& leftAligned(const char* s, size_t width) {
        size_t start = used_;
        text(s);
        while (used_ - start < width) ch(' ');
        return *this;
    }
    // "%Nu" (fill ' ') and "%.Nu" / "%0Nu" (fill '0').
    TextBuilder& number(unsigned long v, size_t width, char fill) {
        char digits[24];
        size_t n = 0;
        do {
            digits[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v != 0);
        for (size_t k = n; k < width; ++k) ch(fill);
        while (n > 0) ch(digits[--n]);
        return *this;
    }

  private:
    char* buf_;
    size_t size_;
    size_t used_ = 0;
};

// The "%-20s(%4u): " part that class PREFIX puts in front of a text; returns its length.
size_t fileLinePart(char* buf, size_t size, const char* file, unsigned line);

// The 14-character label of a client type.
const char* clientLabel(cliType_t clientType);
// The facility's own trace lines name this source.
inline constexpr char kSource[] = "trace.cpp";

}  // namespace trace_detail
