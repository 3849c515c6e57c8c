// Bounded trace files: the header, wrapping in place, rotation through numbered segments.
//
// The file is written with positioned writes on its descriptor rather than through the stream's
// buffer: each text goes out together with the end marker behind it in one system call, and the
// header's next-write offset is rewritten in place, so that a reader of the file (or a crash)
// always finds the header pointing at "\nEND OF DATA\n\n".
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "diag/buildInfo.h"
#include "base/sysCalls.h"
#include "diag/traceInternal.h"

// The wrap lock is never really destroyed: writers that raced a close may still be queued on
// it, so "destroying" only notes that no bounded file uses it any more.
pthread_mutex_t wrapMutex = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
std::atomic<int> wrapMutexExists{0};

namespace trace_detail {

namespace {

constexpr char kMagic[] = "BKP Trace   ";
constexpr size_t kMagicLen = sizeof kMagic - 1;
constexpr off_t kOffsetField = 12;
constexpr size_t kOffsetWidth = 12;
constexpr off_t kMaxField = 24;
constexpr double kMegabyte = 1048576.0;

bool writeAllAt(int fd, off_t offset, iovec* iov, int count) {
    while (count > 0) {
        ssize_t n = pwritev(fd, iov, count, offset);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        offset += n;
        // A short write: step over what went out and write the rest.
        while (count > 0 && static_cast<size_t>(n) >= iov->iov_len) {
            n -= static_cast<ssize_t>(iov->iov_len);
            ++iov;
            --count;
        }
        if (count > 0) {
            iov->iov_base = static_cast<char*>(iov->iov_base) + n;
            iov->iov_len -= static_cast<size_t>(n);
        }
    }
    return true;
}

bool writeAt(int fd, off_t offset, const char* text, size_t len) {
    ssize_t n = pwrite(fd, text, len, offset);
    if (n == static_cast<ssize_t>(len)) return true;
    if (n < 0 && errno != EINTR) return false;
    iovec iov{const_cast<char*>(text) + (n > 0 ? n : 0), len - static_cast<size_t>(n > 0 ? n : 0)};
    return writeAllAt(fd, offset + (n > 0 ? n : 0), &iov, 1);
}

int fdOf(TraceObject* t) {
    FILE* s = t->stream.load(std::memory_order_relaxed);
    return s != nullptr ? fileno(s) : -1;
}

// The rest of the first header line from offset 24 on.
int headerTail(char* out, size_t size, unsigned maxSizeMB) {
    return std::snprintf(out, size, "%-10u %s  Build date: %s\n", maxSizeMB, pisnp::kProductBanner,
                         pisnp::kBuildDate);
}

// Stores where the next write goes (the end marker's offset) into the header.
void recordNextWrite(TraceObject* t) {
    char field[32];
    TextBuilder out(field, sizeof field);
    out.number(static_cast<unsigned long>(t->nextWritePos), 0, ' ');
    while (out.length() < kOffsetWidth) out.ch(' ');
    writeAt(fdOf(t), kOffsetField, field, kOffsetWidth);
}

// Parses the first line of an existing trace file: the next-write offset and the maximum size
// it was written with.
bool parseHeader(const char* line, unsigned long* offset, unsigned long* maxMB) {
    if (std::strncmp(line, kMagic, kMagicLen) != 0) return false;
    const char* p = line + kMagicLen;
    char* end = nullptr;
    while (*p == ' ') ++p;
    if (*p < '0' || *p > '9') return false;
    *offset = std::strtoul(p, &end, 10);
    p = end;
    while (*p == ' ') ++p;
    if (*p < '0' || *p > '9') return false;
    *maxMB = std::strtoul(p, &end, 10);
    return true;
}

// An existing, unsegmented file whose header parses and whose recorded maximum is not larger
// than ours is continued at its end. Returns it open, or null.
FILE* reuseFile(TraceObject* t) {
    if (t->segmentCount > 1) return nullptr;
    FILE* f = openTraceFile(t->traceFileName, TraceOpen::reuse);
    if (f == nullptr) return nullptr;
    int fd = fileno(f);
    struct stat st;
    char line[257];
    ssize_t n = fstat(fd, &st) == 0 ? pread(fd, line, 256, 0) : -1;
    unsigned long offset = 0;
    unsigned long storedMax = 0;
    bool reuse = false;
    if (n > 0) {
        line[n] = '\0';
        if (char* nl = std::strchr(line, '\n')) *nl = '\0';
        double maxBytes = static_cast<double>(t->maxSizeMB) * kMegabyte;
        reuse = parseHeader(line, &offset, &storedMax) &&
                static_cast<double>(st.st_size) <= maxBytes && storedMax <= t->maxSizeMB;
    }
    if (!reuse) {
        pisnp::sys::fclose(f);
        return nullptr;
    }
    char tail[256];
    int len = headerTail(tail, sizeof tail, t->maxSizeMB);
    writeAt(fd, kMaxField, tail, static_cast<size_t>(len));
    t->dataStartPos = kMaxField + len;
    t->nextWritePos = st.st_size;
    return f;
}

FILE* createFile(TraceObject* t) {
    FILE* f = openTraceFile(t->traceFileName, TraceOpen::recreate);
    if (f == nullptr) return nullptr;
    char header[320];
    int len = std::snprintf(header, sizeof header, "%s123456789012", kMagic);
    len += headerTail(header + len, sizeof header - static_cast<size_t>(len), t->maxSizeMB);
    header[len++] = '\n';
    if (!writeAt(fileno(f), 0, header, static_cast<size_t>(len))) {
        pisnp::sys::fclose(f);
        return nullptr;
    }
    t->nextWritePos = len;
    t->dataStartPos = len;
    return f;
}

// An open that may create only creates: a name that appears between the two opens is opened
// again as an existing file (and refused if it is a link).
int openNoFollow(const char* path, int flags) {
    for (int tries = 0; tries < 2; ++tries) {
        int fd = pisnp::sys::open(path, flags | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0 || errno != ENOENT) return fd;
        fd = pisnp::sys::open(path, flags | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

}  // namespace

FILE* openTraceFile(const char* path, TraceOpen how) {
    int fd;
    const char* mode;
    switch (how) {
        case TraceOpen::reuse:
            fd = pisnp::sys::open(path, O_RDWR | O_NOFOLLOW | O_CLOEXEC);
            mode = "r+";
            break;
        case TraceOpen::recreate:
            fd = openNoFollow(path, O_RDWR);
            if (fd >= 0 && ftruncate(fd, 0) != 0) {
                pisnp::sys::close(fd);
                fd = -1;
            }
            mode = "w+";
            break;
        default:
            fd = openNoFollow(path, O_WRONLY | O_APPEND);
            mode = "a";
            break;
    }
    if (fd < 0) return nullptr;
    FILE* f = pisnp::sys::fdopen(fd, mode);
    if (f == nullptr) pisnp::sys::close(fd);
    return f;
}

WrapLock::WrapLock() {
    pthread_setcanceltype(PTHREAD_CANCEL_DEFERRED, &oldCancelType_);
    pthread_mutex_lock(&wrapMutex);
}

WrapLock::~WrapLock() {
    pthread_mutex_unlock(&wrapMutex);
    int ignored;
    pthread_setcanceltype(oldCancelType_, &ignored);
}

void markWrapLockInitialised() {
    wrapMutexExists.store(1, std::memory_order_relaxed);
}

void markWrapLockDestroyed() {
    wrapMutexExists.store(0, std::memory_order_relaxed);
}

bool openBoundedFile(TraceObject* t) {
    FILE* f = reuseFile(t);
    if (f == nullptr) {
        f = createFile(t);
        if (f == nullptr) return false;
        t->stream.store(f);
        recordNextWrite(t);
    } else {
        t->stream.store(f);
    }
    if (t->segmentSwitching) {
        char text[64];
        std::snprintf(text, sizeof text, "Continued from end of segment %u\n\n",
                      t->previousSegment);
        const char* pieces[] = {text};
        writeBounded(pieces, 1);
    } else {
        static const char kBegin[] = "BEGINNING NEW TRACE\n\n";
        ckwrap(sizeof kBegin - 1);
        const char* pieces[] = {kBegin};
        writeBounded(pieces, 1);
    }
    return true;
}

void ckwrap(size_t len) {
    TraceObject* t = traceObj;
    if (t == nullptr || t->stream.load(std::memory_order_relaxed) == nullptr) return;
    double needed =
        static_cast<double>(len + static_cast<size_t>(t->nextWritePos) + 17) / kMegabyte;
    bool segmented = t->segmentCount > 1;
    unsigned limit = t->maxSizeMB;
    if (segmented) limit = t->currentSegment == t->segmentCount ? t->lastSegSizeMB : t->segSizeMB;
    if (needed <= static_cast<double>(limit)) return;

    unsigned next = segmented ? t->currentSegment % t->segmentCount + 1 : 0;
    char marker[64];
    if (segmented)
        std::snprintf(marker, sizeof marker, "\nContinued at beginning of segment %u\n\n", next);
    else
        std::snprintf(marker, sizeof marker, "\nContinued at beginning of file\n\n");
    writeAtNext(marker);
    t->nextWritePos = t->dataStartPos;
    if (!segmented) return;

    t->segmentSwitching = 1;
    trClose(0);
    t->previousSegment = t->currentSegment;
    t->currentSegment = next;
    char base[sizeof t->baseFileName];
    std::strcpy(base, t->baseFileName);
    trBegin(base, 1);
    t->segmentSwitching = 0;
}

long writeBounded(const char* const* pieces, int count) {
    TraceObject* t = traceObj;
    int fd = t != nullptr ? fdOf(t) : -1;
    if (fd < 0) return 0;
    iovec iov[8];
    size_t total = 0;
    int n = 0;
    for (int i = 0; i < count && n < 7; ++i) {
        size_t len = std::strlen(pieces[i]);
        if (len == 0) continue;
        iov[n++] = {const_cast<char*>(pieces[i]), len};
        total += len;
    }
    iov[n++] = {const_cast<char*>(kEndOfData), kEndOfDataLen};
    // A typical line goes out from one contiguous buffer: cheaper for the kernel than a vector.
    char joined[1024];
    bool ok;
    if (total + kEndOfDataLen <= sizeof joined) {
        size_t used = 0;
        for (int i = 0; i < n; ++i) {
            std::memcpy(joined + used, iov[i].iov_base, iov[i].iov_len);
            used += iov[i].iov_len;
        }
        ok = writeAt(fd, t->nextWritePos, joined, used);
    } else {
        ok = writeAllAt(fd, t->nextWritePos, iov, n);
    }
    if (!ok) return -1;
    t->nextWritePos += static_cast<off_t>(total);
    recordNextWrite(t);
    return static_cast<long>(total);
}

bool writeAtNext(const char* text) {
    TraceObject* t = traceObj;
    int fd = t != nullptr ? fdOf(t) : -1;
    return fd >= 0 && writeAt(fd, t->nextWritePos, text, std::strlen(text));
}

}  // namespace trace_detail
