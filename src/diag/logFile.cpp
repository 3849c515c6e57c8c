// DLogFile: opening a log, converting it between its wrapping and plain forms, the wrap check
// and the next-write record of wrapping logs, and pruning plain logs by age.
//
// Every conversion builds the new log in a temporary file of the log's own directory and renames
// it over the log when it is complete, so that a crash at any point leaves one whole log.
#include "diag/logFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstring>

#include "base/sysCalls.h"
#include "pisnp/dates.h"
#include "diag/buildInfo.h"
#include "mem/checkedAlloc.h"
#include "nls/nlsMessageApi.h"
#include "pisnp/files.h"
#include "pisnp/trace.h"

char endOfDataText[128];
char continuedText[128];

namespace {

constexpr size_t kConvertLine = 4096;  // line pieces while converting
constexpr size_t kPruneLine = 512;     // line pieces while pruning
constexpr unsigned long kProgressLines = 25000;
constexpr unsigned kNeverPrune = 10000;
constexpr int kHeadLen = 25;  // "LOGHEADERREC " and the 12-character offset
// A maximum below this cannot hold the header, the markers and a line; it is raised to this.
constexpr unsigned kMinWrapSize = 512;

// Markers used when the catalog cannot be read, so that a wrapping log keeps its form.
constexpr char kDefaultEnd[] = "\n----- END OF DATA -----\n";
constexpr char kDefaultContinued[] = "\n----- CONTINUED -----\n";

void loadMarker(char (&field)[128], int msgNum, const char* fallback) {
    char* text = nullptr;
    nlMessage(text, msgNum);
    const char* use = text != nullptr && text[0] != '\0' ? text : fallback;
    size_t n = strnlen(use, sizeof field - 1);
    std::memcpy(field, use, n);
    field[n] = '\0';
    if (text != nullptr) ARC_FREE(text);
}

void loadMarkers() {
    static bool loaded = false;
    if (loaded) return;
    loaded = true;
    loadMarker(continuedText, 11144, kDefaultContinued);
    loadMarker(endOfDataText, 11143, kDefaultEnd);
}

enum class How { read, append, update, recreate, createNew };

// Opens without following a link; new files get 0666 less the umask, as the C library gives.
FILE* openLog(const char* path, How how, bool wide) {
    int flags = O_NOFOLLOW | O_CLOEXEC;
    const char* mode = "r";
    switch (how) {
        case How::read:
            flags |= O_RDONLY;
            break;
        case How::append:
            flags |= O_WRONLY | O_APPEND | O_CREAT;
            mode = wide ? "ab" : "a";
            break;
        case How::update:
            flags |= O_RDWR;
            mode = "r+";
            break;
        case How::recreate:
            flags |= O_RDWR | O_CREAT | O_TRUNC;
            mode = wide ? "wb+" : "w+";
            break;
        case How::createNew:
            flags |= O_RDWR | O_CREAT | O_EXCL;
            mode = wide ? "wb+" : "w+";
            break;
    }
    int fd = pisnp::sys::open(path, flags, 0666);
    if (fd < 0) return nullptr;
    FILE* f = pisnp::sys::fdopen(fd, mode);
    if (f == nullptr) {
        int err = errno;
        pisnp::sys::close(fd);
        errno = err;
    }
    return f;
}

bool put(FILE* f, const void* data, size_t n) {
    if (n == 0) return true;
    return pisnp::sys::fwrite(data, 1, n, f) == n;
}

bool putText(FILE* f, const char* text) {
    return put(f, text, std::strlen(text));
}

void closeFile(FILE*& f) {
    if (f != nullptr) pisnp::sys::fclose(f);
    f = nullptr;
}

// The directory part of path, up to and including its last slash (empty when it has none).
size_t dirLength(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? static_cast<size_t>(slash - path) + 1 : 0;
}

// "<dir of log><name>" into out (4,100 bytes); false when it does not fit.
bool besideLog(char* out, const char* log, const char* name) {
    size_t d = dirLength(log);
    size_t n = std::strlen(name);
    if (d + n >= sizeof DLogFile::fileName) return false;
    std::memcpy(out, log, d);
    std::memcpy(out + d, name, n + 1);
    return true;
}

bool tempName(char* out, const char* log) {
    char name[48];
    std::snprintf(name, sizeof name, "arcprune%ld.log", static_cast<long>(getpid()));
    return besideLog(out, log, name);
}

// Creates the temporary file, removing a stale one of the same name first. Fully buffered: no
// one reads it before it is complete, flushed and renamed.
FILE* createTemp(const char* name, bool wide) {
    pisnp::sys::unlink(name);
    return openLog(name, How::createNew, wide);
}

void printErrnoMessage(int msgNum, const char* path, int err) {
    nlprintf(msgNum, path, err, std::strerror(err));
}

// A numbered message also sent to the system log.
void systemLog(int msgNum, short sev, ...) {
    char* text = nullptr;
    va_list args;
    va_start(args, sev);
    nlVmessageSev(text, msgNum, args, nullptr);
    va_end(args);
    if (text == nullptr) return;
    psLogMsg(sev, text, 1);
    ARC_FREE(text);
}

int headerRest(char* out, size_t size, unsigned maxSize) {
    return std::snprintf(out, size, "%-10u %s%14s%s\n\n", maxSize, pisnp::kProductBanner, "",
                         pisnp::kBuildDate);
}

// The whole header of a wrapping log with next offset `next`; its length.
int headerText(char* out, size_t size, unsigned long next, unsigned maxSize) {
    int n = std::snprintf(out, size, "LOGHEADERREC %-12lu", next);
    return n + headerRest(out + n, size - static_cast<size_t>(n), maxSize);
}

constexpr size_t kHeaderRoom = 160;

size_t headerSize(unsigned maxSize) {
    char h[kHeaderRoom];
    return static_cast<size_t>(headerText(h, sizeof h, 0, maxSize));
}

// Reads the offset of the next line from the header at offset 0.
bool readNextOffset(FILE* f, unsigned long* next) {
    char head[kHeadLen + 1];
    ssize_t n = pisnp::sys::pread(fileno(f), head, kHeadLen, 0);
    if (n != kHeadLen) return false;
    head[kHeadLen] = '\0';
    return std::sscanf(head, "LOGHEADERREC %lu", next) == 1;
}

// Offset behind the header's first line.
bool headerLineEnd(FILE* f, unsigned long* end) {
    char line[kConvertLine + 1];
    if (std::fseek(f, 0, SEEK_SET) != 0 || std::fgets(line, sizeof line, f) == nullptr)
        return false;
    *end = std::strlen(line);
    return true;
}

bool isBlankLine(const char* line) {
    return line[0] == '\n' || line[0] == '\0';
}

// A line written by a log starts with a date: its first ten characters parse as one.
bool datedLine(const char* line, nfDate* date) {
    if (std::strlen(line) <= 9) return false;
    char head[11];
    std::memcpy(head, line, 10);
    head[10] = '\0';
    *date = nfDate{};
    return dateParse(head, date) == 0;
}

// The end marker's own lines (it starts and ends with newlines).
bool markerLine(const char* line, const char* marker) {
    size_t n = std::strcspn(line, "\n");
    if (n == 0) return false;
    const char* m = marker;
    while (*m == '\n') ++m;
    return std::strncmp(line, m, n) == 0 && (m[n] == '\n' || m[n] == '\0');
}

// The wrap marker: the continued text from its second character, over all but its newlines.
bool continuedLine(const char* line) {
    size_t l = std::strlen(continuedText);
    if (l < 3) return false;
    return std::strncmp(line, continuedText + 1, l - 2) == 0;
}

// Copies lines between files, counting them for the progress message.
struct Copier {
    FILE* out;
    unsigned long lines = 0;
    bool failed = false;
    int err = 0;
    bool copy(const char* line) {
        if (failed) return false;
        if (!putText(out, line)) {
            failed = true;
            err = errno != 0 ? errno : EIO;
            return false;
        }
        if (++lines % kProgressLines == 0) nlprintf(1530, lines);
        return true;
    }
};

// The lines of a wrapping log's file in the order they were written, oldest first, each handed
// to fn(line) as pieces of at most kConvertLine bytes. A full file holds its older part behind
// the end marker, up to the wrap marker; the newer part runs from behind the header to the end
// marker. `dated`: the older part starts at its first dated line, so that no line is lost
// (without it, the piece at the marker's end is skipped as possibly partial).
template <typename Fn>
bool forEachWrappedLine(FILE* in, unsigned long headerEnd, unsigned long next, bool full,
                        bool dated, Fn fn) {
    char line[kConvertLine + 1];
    if (full) {
        if (std::fseek(in, static_cast<long>(next), SEEK_SET) != 0) return false;
        bool started = false;
        bool pastMarker = false;
        while (std::fgets(line, sizeof line, in) != nullptr) {
            if (!started) {
                if (dated) {
                    nfDate d;
                    started = datedLine(line, &d);
                } else {
                    // The end marker's lines, then the rest of the line it overwrote.
                    if (isBlankLine(line) || markerLine(line, endOfDataText)) {
                        if (markerLine(line, endOfDataText)) pastMarker = true;
                        continue;
                    }
                    if (!pastMarker) continue;
                    started = true;
                    continue;
                }
                if (!started) continue;
            }
            if (continuedLine(line) || (std::strstr(continuedText, line) != nullptr && !dated))
                break;
            if (isBlankLine(line)) continue;
            fn(line);
        }
    }
    if (std::fseek(in, static_cast<long>(headerEnd), SEEK_SET) != 0) return false;
    unsigned long at = headerEnd;
    while (at < next && std::fgets(line, sizeof line, in) != nullptr) {
        size_t n = std::strlen(line);
        if (at + n > next) break;  // the end marker's first newline belongs to no line
        at += n;
        if (!isBlankLine(line)) fn(line);
    }
    return true;
}

void traceErrno(const char* fmt, int err) {
    TRACE(TR_GENERAL, fmt, err, std::strerror(err));
}

// The permission bits of path, or 0644 when it cannot be examined.
mode_t modeOf(const char* path) {
    struct stat st;
    if (pisnp::sys::lstat(path, &st) != 0) return 0644;
    return st.st_mode & 07777;
}

// Makes the finished temporary file the log: flushed to disk, the old log's permission bits,
// renamed over it. The temporary file is removed on failure. 0 or the errno.
int replaceWithTemp(FILE*& tmp, const char* tmpName, const char* log) {
    int err = 0;
    if (pisnp::sys::fflush(tmp) != 0 || fsync(fileno(tmp)) != 0) err = errno != 0 ? errno : EIO;
    if (err == 0) fchmod(fileno(tmp), modeOf(log));
    closeFile(tmp);
    if (err == 0 && pisnp::sys::rename(tmpName, log) != 0) err = errno != 0 ? errno : EIO;
    if (err != 0) pisnp::sys::unlink(tmpName);
    return err;
}

// The temporary file of a conversion, or null after reporting why there is none.
FILE* openTempReported(DLogFile& log, const char* path, char* tmpName) {
    FILE* tmp = log.openTemp(const_cast<char*>(path), tmpName);
    if (tmp == nullptr) {
        log.lastErrno = static_cast<unsigned>(errno);
        printErrnoMessage(1398, tmpName, errno);
    }
    return tmp;
}

// The rebuilt wrapping log, opened for update at its next offset. 0 or -1.
int reopenAt(DLogFile& log, const char* path, unsigned long at) {
    log.file = openLog(path, How::update, log.wideFile == 1);
    if (log.file == nullptr) {
        log.lastErrno = static_cast<unsigned>(errno);
        printErrnoMessage(1398, path, errno);
        return -1;
    }
    log.nextWrite = at;
    std::fseek(log.file, static_cast<long>(at), SEEK_SET);
    log.SetCloseOnExec(log.file);
    return 0;
}

// The end of a conversion through the temporary file: a copy that failed is reported and its
// file removed; a whole one replaces the log. 0 or -1.
int finishTemp(DLogFile& log, FILE*& tmp, const char* tmpName, const char* path,
               const Copier& copier) {
    if (copier.failed) {
        log.lastErrno = static_cast<unsigned>(copier.err);
        printErrnoMessage(1521, tmpName, copier.err);
        traceErrno("error writing to temp file.\nerrno = %d, %s\n", copier.err);
        closeFile(tmp);
        pisnp::sys::unlink(tmpName);
        return -1;
    }
    if (int err = replaceWithTemp(tmp, tmpName, path); err != 0) {
        log.lastErrno = static_cast<unsigned>(err);
        TRACE(TR_GENERAL, "Couldn't copy from temp file back to <%s>. errno = %d, %s\n", path, err,
              std::strerror(err));
        return -1;
    }
    return 0;
}

}  // namespace

// ---- The object ----------------------------------------------------------------------------

DLogFile::DLogFile()
    : fileName(),
      headerLength(0),
      timeOfLastMsg(),
      maxSize(0),
      loggingEnabled(0),
      wrapping(0),
      nextWrite(0),
      saveName(nullptr),
      retentionDays(0),
      pruneMode(0),
      lastErrno(0),
      file(nullptr),
      pruneFailed(0),
      option5(0),
      wideFile(0) {}

DLogFile::~DLogFile() = default;

void DLogFile::InitializeLogFile(unsigned maxSizeIn, char* saveNameIn, unsigned retention,
                                 char mode, unsigned option5In, int wide) {
    maxSize = maxSizeIn;
    saveName = saveNameIn;
    retentionDays = retention;
    pruneMode = mode;
    option5 = option5In;
    wideFile = wide;
    loggingEnabled = 0;
    wrapping = 0;
    lastErrno = 0;
    // A log object owns its file: one set up again lets go of the old one.
    closeFile(file);
}

void DLogFile::SetTimeOfLastMsg(nfDate& date) {
    timeOfLastMsg = date;
}

nfDate DLogFile::GetTimeOfLastMsg() {
    return timeOfLastMsg;
}

void DLogFile::SetCloseOnExec(FILE* f) {
    int fd = f != nullptr ? fileno(f) : -1;
    if (fd < 0) {
        TRACE(TR_GENERAL, "psSetCloseOnExec():fileno() failed\n");
        return;
    }
    int flags = fcntl(fd, F_GETFD);
    if (flags < 0 || fcntl(fd, F_SETFD, flags | FD_CLOEXEC) < 0) {
        int err = errno;
        TRACE(TR_GENERAL, "psSetCloseOnExec(): fcntl(FD_CLOEXEC) failed, errno(%d), reason(%s)\n",
              err, std::strerror(err));
    }
}

int DLogFile::utBuildPath(char* dir) {
    if (dir == nullptr || dir[0] == '\0') {
        TRACE(TR_GENERAL, "utBuildPath(): input name is empty, exiting.\n");
        return -1;
    }
    errno = 0;
    int rc = psFileCreateDir(dir, nullptr);
    if (rc == 0) return 0;
    if (rc == PISNP_RC_INVALID_ARG || rc == PISNP_RC_UNEXPECTED) {
        TRACE(TR_GENERAL, "utBuildPath(): failed to create directory, internal program error.\n");
        return -1;
    }
    if (errno == EEXIST) {
        TRACE(TR_GENERAL, "utBuildPath(): directory exists.\n");
        return 0;
    }
    char* slash = std::strrchr(dir, '/');
    if (slash == nullptr || slash == dir) {
        TRACE(TR_GENERAL, "utBuildPath(): was unable to create path, reached root level.\n");
        return -1;
    }
    *slash = '\0';
    rc = utBuildPath(dir);
    if (rc == 0) TRACE(TR_GENERAL, "utBuildPath(): created path (%s).\n", dir);
    *slash = '/';
    if (rc != 0) {
        TRACE(TR_GENERAL, "utBuildPath(): failed to create path (%s), rc = %d.\n", dir, rc);
        return rc;
    }
    rc = psFileCreateDir(dir, nullptr);
    if (rc != 0) {
        TRACE(TR_GENERAL, "utBuildPath(): failed to create path (%s), rc = %d.\n", dir, rc);
        return rc;
    }
    TRACE(TR_GENERAL, "utBuildPath(): successfully created path (%s).\n", dir);
    return 0;
}

FILE* DLogFile::openTemp(char* logName, char* outName) {
    if (!tempName(outName, logName)) return nullptr;
    TRACE(TR_GENERAL, "openTemp: tmp file is %s\n", outName);
    FILE* f = createTemp(outName, wideFile == 1);
    if (f == nullptr) {
        int err = errno;
        TRACE(TR_GENERAL, "Couldn't open temp file <%s>.\nerrno = %d, %s\n", outName, err,
              std::strerror(err));
        errno = err;
        return nullptr;
    }
    TRACE(TR_GENERAL, "Temporary error file <%s> opened.\n", outName);
    return f;
}

// ---- Wrapping --------------------------------------------------------------------------------

namespace {

// Wraps the log when a line of len bytes would not fit behind nextWrite.
void wrapIfFull(DLogFile& log, unsigned long len) {
    FILE* file = log.file;
    unsigned long& nextWrite = log.nextWrite;
    const unsigned maxSize = log.maxSize;
    auto end = static_cast<long long>(std::strlen(endOfDataText));
    auto cont = static_cast<long long>(std::strlen(continuedText));
    if (static_cast<long long>(nextWrite) + 1 + static_cast<long long>(len) + end >
        static_cast<long long>(maxSize) - 1 - cont) {
        std::fseek(file, static_cast<long>(nextWrite), SEEK_SET);
        // An end found too close to the maximum (a log written by another program) gets no
        // marker: the file stays within its maximum.
        if (static_cast<long long>(nextWrite) + cont <= static_cast<long long>(maxSize))
            putText(file, continuedText);
        pisnp::sys::fflush(file);
        long remaining = static_cast<long>(maxSize) - std::ftell(file);
        if (remaining == 1) {
            putText(file, "\n");
        } else if (remaining > 1) {
            char pad[4096];
            // The pad line: blanks, "*" and a newline, up to the maximum exactly.
            long blanks = remaining - 2;
            std::memset(pad, ' ', sizeof pad);
            while (blanks > 0) {
                long n = blanks < static_cast<long>(sizeof pad) ? blanks : sizeof pad;
                put(file, pad, static_cast<size_t>(n));
                blanks -= n;
            }
            putText(file, "*\n");
        }
        pisnp::sys::fflush(file);
        unsigned long end0 = 0;
        if (!headerLineEnd(file, &end0))
            TRACE(TR_GENERAL, "utCheckWrap: invalid header or read error (ignored)\n");
        nextWrite = end0;
    }
}

}  // namespace

void DLogFile::utCheckWrap(unsigned long len) {
    if (wrapping != 1 || file == nullptr) return;
    if (!readNextOffset(file, &nextWrite))
        TRACE(TR_GENERAL, "utCheckWrap: invalid header or read error (ignored)\n");
    wrapIfFull(*this, len);
    pisnp::sys::fflush(file);
    std::fseek(file, static_cast<long>(nextWrite), SEEK_SET);
}

void DLogFile::utSetNextWrite() {
    if (wrapping != 1 || file == nullptr) return;
    long at = std::ftell(file);
    if (at >= 0) nextWrite = static_cast<unsigned long>(at);
    char head[kHeadLen + 24];
    int n = std::snprintf(head, sizeof head, "LOGHEADERREC %-12lu", nextWrite);
    pisnp::sys::pwrite(fileno(file), head, static_cast<size_t>(n), 0);
    TRACE(TR_GENERAL, "utSetNextWrite(): nextWrite for END OF DATA is %d .\n",
          static_cast<int>(nextWrite));
    char marker[sizeof endOfDataText + 1];
    int m = std::snprintf(marker, sizeof marker, "%s\n", endOfDataText);
    put(file, marker, static_cast<size_t>(m));
    pisnp::sys::fflush(file);
}

namespace {

// Builds a new wrapping log from the newest lines of an old one that fit below maxSize, and
// renames it over the old. The log is then open for update at its next offset.
int rebuildWrapping(DLogFile& log, FILE*& in, const char* path, unsigned long headerEnd,
                    unsigned long next, bool full) {
    size_t head = headerSize(log.maxSize);
    size_t markers = std::strlen(endOfDataText) + 1 + std::strlen(continuedText) + 2;
    unsigned long budget = log.maxSize > head + markers ? log.maxSize - head - markers : 0;
    unsigned long total = 0;
    if (!forEachWrappedLine(in, headerEnd, next, full, false,
                            [&](const char* l) { total += std::strlen(l); }))
        return -1;
    char tmpName[sizeof log.fileName];
    FILE* tmp = openTempReported(log, path, tmpName);
    if (tmp == nullptr) return -1;
    char header[kHeaderRoom];
    int hn = headerText(header, sizeof header, 0, log.maxSize);
    Copier copier{tmp};
    if (!put(tmp, header, static_cast<size_t>(hn))) copier.failed = true, copier.err = errno;
    unsigned long skip = total > budget ? total - budget : 0;
    unsigned long kept = 0;
    forEachWrappedLine(in, headerEnd, next, full, false, [&](const char* l) {
        size_t n = std::strlen(l);
        if (skip > 0) {
            skip = n > skip ? 0 : skip - n;
            return;
        }
        if (copier.copy(l)) kept += n;
    });
    closeFile(in);
    unsigned long nextOut = static_cast<unsigned long>(hn) + kept;
    char marker[sizeof endOfDataText + 1];
    int m = std::snprintf(marker, sizeof marker, "%s\n", endOfDataText);
    if (!copier.failed && !put(tmp, marker, static_cast<size_t>(m)))
        copier.failed = true, copier.err = errno;
    if (!copier.failed) {
        char first[kHeadLen + 24];
        int fn = std::snprintf(first, sizeof first, "LOGHEADERREC %-12lu", nextOut);
        if (pisnp::sys::fflush(tmp) != 0 ||
            pisnp::sys::pwrite(fileno(tmp), first, static_cast<size_t>(fn), 0) != fn)
            copier.failed = true, copier.err = errno != 0 ? errno : EIO;
    }
    if (finishTemp(log, tmp, tmpName, path, copier) != 0) return -1;
    return reopenAt(log, path, nextOut);
}

// Opens the log for appending, unbuffered: the last step of every conversion to plain form.
int reopenPlain(DLogFile& log, const char* path) {
    closeFile(log.file);
    log.file = openLog(path, How::append, log.wideFile == 1);
    if (log.file == nullptr) {
        int err = errno;
        log.lastErrno = static_cast<unsigned>(err);
        printErrnoMessage(1398, path, err);
        TRACE(TR_GENERAL, "Couldn't reopen <%s> after pruning. errno = %d, %s\n", path, err,
              std::strerror(err));
        return -1;
    }
    std::setvbuf(log.file, nullptr, _IONBF, 0);
    log.SetCloseOnExec(log.file);
    return 0;
}

// A wrapping log becomes plain: its lines oldest first, then pruned.
int unwrap(DLogFile& log, FILE*& in, char* path, unsigned long headerEnd, unsigned long next,
           bool full) {
    char tmpName[sizeof log.fileName];
    FILE* tmp = openTempReported(log, path, tmpName);
    if (tmp == nullptr) {
        closeFile(in);
        return -1;
    }
    Copier copier{tmp};
    forEachWrappedLine(in, headerEnd, next, full, true, [&](const char* l) {
        if (!markerLine(l, endOfDataText)) copier.copy(l);
    });
    closeFile(in);
    if (finishTemp(log, tmp, tmpName, path, copier) != 0) return -1;
    return 0;
}

// A plain log becomes wrapping: its lines go to the save file, and an empty wrapping log
// replaces it.
int wrapPlain(DLogFile& log, FILE*& in, char* path, const char* firstLine, int created) {
    char save[sizeof log.fileName];
    const char* name = log.saveName != nullptr && log.saveName[0] != '\0' ? log.saveName : nullptr;
    bool fits;
    if (name == nullptr)
        // Without a save name the lines are kept beside the log rather than lost.
        fits = std::snprintf(save, sizeof save, "%s.save", path) < static_cast<int>(sizeof save);
    else if (std::strchr(name, '/') != nullptr)
        fits = std::snprintf(save, sizeof save, "%s", name) < static_cast<int>(sizeof save);
    else
        fits = besideLog(save, path, name);
    // Without a save name and without lines there is nothing to keep.
    bool needed = name != nullptr || firstLine[0] != '\0';
    FILE* out = fits && needed ? openLog(save, How::append, log.wideFile == 1) : nullptr;
    if (out == nullptr && needed) {
        int err = fits ? errno : ENAMETOOLONG;
        log.lastErrno = static_cast<unsigned>(err);
        printErrnoMessage(1398, save, err);
        closeFile(in);
        return -1;
    }
    if (created == 0) nlprintf(1528, path);
    Copier copier{out};
    char line[kConvertLine + 1];
    if (out != nullptr) {
        if (firstLine[0] != '\0') copier.copy(firstLine);
        while (!copier.failed && std::fgets(line, sizeof line, in) != nullptr) copier.copy(line);
        if (!copier.failed && pisnp::sys::fflush(out) != 0)
            copier.failed = true, copier.err = errno;
        closeFile(out);
    }
    closeFile(in);
    if (copier.failed) {
        log.lastErrno = static_cast<unsigned>(copier.err);
        printErrnoMessage(1521, save, copier.err);
        traceErrno("error writing to temp temp file.\nerrno = %d, %s\n", copier.err);
        return -1;
    }
    // An empty wrapping log: rebuilt from an empty line set.
    char tmpName[sizeof log.fileName];
    FILE* tmp = openTempReported(log, path, tmpName);
    if (tmp == nullptr) return -1;
    char header[kHeaderRoom];
    int hn = headerText(header, sizeof header, 0, log.maxSize);
    int fn =
        std::snprintf(header, sizeof header, "LOGHEADERREC %-12lu", static_cast<unsigned long>(hn));
    header[fn] = ' ';
    headerRest(header + kHeadLen, sizeof header - kHeadLen, log.maxSize);
    char marker[sizeof endOfDataText + 1];
    int m = std::snprintf(marker, sizeof marker, "%s\n", endOfDataText);
    int err = 0;
    if (!put(tmp, header, static_cast<size_t>(hn)) || !put(tmp, marker, static_cast<size_t>(m)))
        err = errno != 0 ? errno : EIO;
    if (err != 0) {
        log.lastErrno = static_cast<unsigned>(err);
        printErrnoMessage(1521, tmpName, err);
        traceErrno("error writing to log file.\nerrno = %d, %s\n", err);
        closeFile(tmp);
        pisnp::sys::unlink(tmpName);
        return -1;
    }
    if ((err = replaceWithTemp(tmp, tmpName, path)) != 0) {
        log.lastErrno = static_cast<unsigned>(err);
        printErrnoMessage(1398, path, err);
        return -1;
    }
    return reopenAt(log, path, static_cast<unsigned long>(hn));
}

}  // namespace

int DLogFile::utWrapFile(char* path, int created) {
    loadMarkers();
    closeFile(file);
    if (maxSize != 0 && maxSize < kMinWrapSize) maxSize = kMinWrapSize;
    FILE* in = openLog(path, How::read, wideFile == 1);
    if (in == nullptr) {
        lastErrno = static_cast<unsigned>(errno);
        return -1;
    }
    char first[kConvertLine + 1];
    if (std::fgets(first, sizeof first, in) == nullptr) first[0] = '\0';
    headerLength = static_cast<unsigned>(std::strlen(first) + 1);
    long storedNext = -1, storedMax = -1;
    bool header = std::sscanf(first, "LOGHEADERREC %ld %ld", &storedNext, &storedMax) == 2 &&
                  storedNext >= 0 && storedMax >= 0;
    if (!header) {
        if (maxSize != 0) {
            wrapping = 1;
            return wrapPlain(*this, in, path, first, created);
        }
        wrapping = 0;
        closeFile(in);
        utPruneFile(path, pruneMode == 'S' ? saveName : nullptr, file, retentionDays);
        return reopenPlain(*this, path);
    }
    TRACE(TR_GENERAL, "utWrapFile(): got offset %d and max %d of <%s>.\n",
          static_cast<int>(storedNext), static_cast<int>(storedMax), path);
    struct stat st;
    unsigned long fileLen =
        fstat(fileno(in), &st) == 0 ? static_cast<unsigned long>(st.st_size) : 0;
    unsigned long headerEnd = std::strlen(first);
    // A stored offset outside the data cannot be trusted further than the file reaches.
    unsigned long next = static_cast<unsigned long>(storedNext);
    if (next < headerEnd) next = headerEnd;
    if (next > fileLen) next = fileLen;
    auto stored = static_cast<unsigned long>(storedMax);
    bool full = fileLen >= stored;
    if (maxSize == 0) {
        wrapping = 0;
        if (created == 0) {
            nlprintf(1529, path);
            if (unwrap(*this, in, path, headerEnd, next, full) != 0) return -1;
        }
        closeFile(in);
        utPruneFile(path, pruneMode == 'S' ? saveName : nullptr, file, retentionDays);
        return reopenPlain(*this, path);
    }
    wrapping = 1;
    // A header of another form than this library writes is rebuilt rather than patched.
    bool ownHeader = headerEnd + 1 == headerSize(static_cast<unsigned>(stored));
    if ((maxSize < stored && full) || fileLen > maxSize || !ownHeader) {
        int rc = rebuildWrapping(*this, in, path, headerEnd, next, full && ownHeader);
        closeFile(in);
        return rc;
    }
    closeFile(in);
    file = openLog(path, How::update, wideFile == 1);
    if (file == nullptr) {
        lastErrno = static_cast<unsigned>(errno);
        printErrnoMessage(1398, path, errno);
        return -1;
    }
    nextWrite = next;
    if (maxSize != stored) {
        char rest[kHeaderRoom];
        // Up to the first newline: the empty line behind it may hold a line by now.
        int n = headerRest(rest, sizeof rest, maxSize) - 1;
        std::fseek(file, kHeadLen, SEEK_SET);
        put(file, rest, static_cast<size_t>(n));
        pisnp::sys::fflush(file);
    }
    std::fseek(file, static_cast<long>(nextWrite), SEEK_SET);
    SetCloseOnExec(file);
    return 0;
}

// ---- Pruning ---------------------------------------------------------------------------------

int DLogFile::utPruneFile(char* logName, const char* save, FILE*& f, unsigned retention) {
    TRACE(TR_GENERAL, "Log Pruner started.\nLog Retention Days = %u.\n", retention);
    pruneFailed = 0;
    if (retention == kNeverPrune) return 0;
    closeFile(f);
    f = openLog(logName, How::read, wideFile == 1);
    if (f == nullptr) {
        int err = errno;
        pruneFailed = 1;
        lastErrno = static_cast<unsigned>(err);
        printErrnoMessage(1398, logName, err);
        TRACE(TR_GENERAL, "Couldn't open <%s> for pruning. errno = %d, %s\n", logName, err,
              std::strerror(err));
        return -1;
    }
    char tmpName[sizeof fileName];
    if (!tempName(tmpName, logName)) tmpName[0] = '\0';
    TRACE(TR_GENERAL, "utPruneFile: tmp file is %s\n", tmpName);
    FILE* saveFile = nullptr;
    char saveFull[sizeof fileName] = "";
    if (save != nullptr && save[0] != '\0') {
        const char* base = std::strrchr(save, '/');
        base = base != nullptr ? base + 1 : save;
        saveFile = besideLog(saveFull, logName, base)
                       ? openLog(saveFull, How::append, wideFile == 1)
                       : nullptr;
        if (saveFile == nullptr) {
            int err = errno;
            pruneFailed = 1;
            lastErrno = static_cast<unsigned>(err);
            printErrnoMessage(2036, saveFull, err);
            TRACE(TR_GENERAL,
                  "Couldn't open save file <%s> to save pruned log entries.\nerrno = %d, %s\n",
                  saveFull, err, std::strerror(err));
            closeFile(f);
            return -1;
        }
        std::setvbuf(saveFile, nullptr, _IONBF, 0);
    }
    FILE* tmp = tmpName[0] != '\0' ? createTemp(tmpName, wideFile == 1) : nullptr;
    if (tmp == nullptr) {
        int err = errno;
        pruneFailed = 1;
        lastErrno = static_cast<unsigned>(err);
        printErrnoMessage(2036, tmpName, err);
        TRACE(TR_GENERAL, "Couldn't open temp file <%s> for pruning.\nerrno = %d, %s\n", tmpName,
              err, std::strerror(err));
        closeFile(saveFile);
        closeFile(f);
        return -1;
    }
    TRACE(TR_GENERAL,
          "Log file <%s> opened for pruning.\nTemporary file <%s> opened for pruning.\n", logName,
          tmpName);
    nfDate today;
    dateLocal(&today);
    char line[kPruneLine + 1];
    unsigned long processed = 0, pruned = 0;
    const char* failedText = nullptr;
    const char* failedFile = nullptr;
    while (std::fgets(line, sizeof line, f) != nullptr) {
        ++processed;
        nfDate d;
        if (datedLine(line, &d) && dateSub(&today, &d) < static_cast<int>(retention)) {
            if (!putText(tmp, line))
                failedText = "error writing to temp pruning file.\nerrno = %d, %s\n",
                failedFile = tmpName;
            break;
        }
        ++pruned;
        if (saveFile != nullptr && !putText(saveFile, line)) {
            failedText = "error writing to saved pruning recs file.\nerrno = %d, %s\n";
            failedFile = saveFull;
            break;
        }
    }
    if (failedText == nullptr && pruned > 0) {
        while (std::fgets(line, sizeof line, f) != nullptr) {
            ++processed;
            if (!putText(tmp, line)) {
                failedText = "error writing to temp pruning file.\nerrno = %d, %s\n";
                failedFile = tmpName;
                break;
            }
        }
    }
    closeFile(f);
    closeFile(saveFile);
    if (failedText != nullptr) {
        int err = errno != 0 ? errno : EIO;
        pruneFailed = 1;
        lastErrno = static_cast<unsigned>(err);
        printErrnoMessage(1521, failedFile, err);
        traceErrno(failedText, err);
        closeFile(tmp);
        pisnp::sys::unlink(tmpName);
        return -1;
    }
    if (pruned > 0) {
        if (int err = replaceWithTemp(tmp, tmpName, logName); err != 0) {
            lastErrno = static_cast<unsigned>(err);
            pruneFailed = 1;
            TRACE(TR_GENERAL,
                  "Couldn't copy from temp file back to <%s> after pruning. errno = %d, %s\n"
                  "original log not pruned.",
                  logName, err, std::strerror(err));
        }
    } else {
        closeFile(tmp);
        if (int rc = pisnp::sys::unlink(tmpName); rc != 0)
            TRACE(TR_GENERAL, "Couldn't remove temporary pruning file %s. rc = %d\n", tmpName, rc);
    }
    TRACE(TR_GENERAL, "Log Pruner: %lu lines processed. %lu lines pruned.\nLog Pruner finished.\n",
          processed, pruned);
    return 0;
}

// ---- Opening ---------------------------------------------------------------------------------

FILE* DLogFile::utOpenOutputFile(char* path) {
    loadMarkers();
    if (path == nullptr || path[0] == '\0' || std::strlen(path) > 4096) return nullptr;
    TRACE(TR_ENTER, "Opening log file '%s'\n", path);
    loggingEnabled = 0;
    std::snprintf(fileName, sizeof fileName, "%s", path);
    char target[4100] = "";
    if (psIsFileSymLink(fileName, target) != PISNP_RC_NOT_FOUND) {
        nlprintf(1192, fileName);
        systemLog(1192, 7, fileName);
        if (psDeleteSymLink(fileName) != 0) {
            nlprintf(1191, fileName);
        } else {
            nlprintf(1190, fileName, target);
            systemLog(1190, 1, fileName, target);
        }
        lastErrno = EBADF;
        errno = EBADF;
        return nullptr;
    }
    int created = 0;
    int probe = pisnp::sys::open(fileName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (probe >= 0) {
        pisnp::sys::close(probe);
    } else {
        created = 1;
        size_t d = dirLength(fileName);
        if (d > 0) {
            char dir[sizeof fileName];
            std::memcpy(dir, fileName, d - 1);
            dir[d - 1] = '\0';
            errno = 0;
            if (dir[0] == '\0' || (utBuildPath(dir) != 0 && errno != EEXIST)) {
                errno = EACCES;
                lastErrno = EACCES;
                printErrnoMessage(1398, fileName, EACCES);
                systemLog(1398, 7, fileName, EACCES, std::strerror(EACCES));
                return nullptr;
            }
        }
    }
    FILE* touch = openLog(fileName, How::append, wideFile == 1);
    if (touch == nullptr) {
        int err = errno;
        lastErrno = static_cast<unsigned>(err);
        printErrnoMessage(1398, fileName, err);
        errno = err;
        return nullptr;
    }
    closeFile(touch);
    if (utWrapFile(fileName, created) != 0) {
        closeFile(file);
        return nullptr;
    }
    std::setvbuf(file, nullptr, _IONBF, 0);
    loggingEnabled = 1;
    return file;
}

FILE* DLogFile::utOpenOutputFile(wchar_t* path) {
    if (path == nullptr) return nullptr;
    char narrow[4100];
    std::mbstate_t state{};
    const wchar_t* src = path;
    size_t n = std::wcsrtombs(narrow, &src, sizeof narrow, &state);
    if (n == static_cast<size_t>(-1) || src != nullptr) return nullptr;
    return utOpenOutputFile(narrow);
}

// ---- Lines -------------------------------------------------------------------------------------

namespace logfile {

void stampNow(char* date, char* time, nfDate* now) {
    // Lines come many to the second: each thread formats a second's stamp once. The locale's
    // formats are chosen at start-up, before lines are written.
    thread_local time_t second = -1;
    thread_local nfDate d;
    thread_local char dateText[16], timeText[16];
    time_t t = pisnp::sys::time(nullptr);
    if (t != second) {
        dateLocal(&d);
        dateText[0] = timeText[0] = '\0';
        dateFmt(&d, dateText, timeText);
        second = t;
    }
    if (now != nullptr) *now = d;
    std::memcpy(date, dateText, sizeof dateText);
    std::memcpy(time, timeText, sizeof timeText);
}

int writeLine(DLogFile& log, const char* line, size_t n) {
    if (log.file == nullptr) return EBADF;
    errno = 0;
    if (log.wrapping != 1) {
        if (!put(log.file, line, n)) return errno != 0 ? errno : EIO;
        pisnp::sys::fflush(log.file);
        return 0;
    }
    // The audit log's writers may be other processes: its header is the only true next offset.
    // Every other log has one writer at a time, this process, which keeps the offset itself.
    if (&log == &auditLogFile && !readNextOffset(log.file, &log.nextWrite))
        TRACE(TR_GENERAL, "utCheckWrap: invalid header or read error (ignored)\n");
    wrapIfFull(log, n);
    // A line longer than the log can hold is cut, so the log never passes its maximum.
    size_t end = std::strlen(endOfDataText);
    size_t markers = end + std::strlen(continuedText) + 2;
    size_t room = log.maxSize > log.nextWrite + markers ? log.maxSize - log.nextWrite - markers : 0;
    size_t body = n > room ? room : n;
    // The line and the end marker behind it in one write.
    char stack[2048];
    size_t total = body + end + 1;
    char* buf = total <= sizeof stack ? stack : static_cast<char*>(ARC_MALLOC(total));
    bool ok;
    auto at = static_cast<off_t>(log.nextWrite);
    int fd = fileno(log.file);
    if (buf != nullptr) {
        std::memcpy(buf, line, body);
        if (body < n && body > 0) buf[body - 1] = '\n';
        std::memcpy(buf + body, endOfDataText, end);
        buf[body + end] = '\n';
        ok = pisnp::sys::pwrite(fd, buf, total, at) == static_cast<ssize_t>(total);
        if (buf != stack) ARC_FREE(buf);
    } else {
        char marker[sizeof endOfDataText + 1];
        int m = std::snprintf(marker, sizeof marker, "%s\n", endOfDataText);
        ok = (body == 0 || pisnp::sys::pwrite(fd, line, body, at) == static_cast<ssize_t>(body)) &&
             pisnp::sys::pwrite(fd, marker, static_cast<size_t>(m),
                                at + static_cast<off_t>(body)) == m;
        if (ok && body < n && body > 0)
            ok = pisnp::sys::pwrite(fd, "\n", 1, at + static_cast<off_t>(body) - 1) == 1;
    }
    if (!ok) return errno != 0 ? errno : EIO;
    // Whatever part of a failed line reached the file is overwritten by the next one.
    log.nextWrite += body;
    char head[kHeadLen + 24];
    int hn = std::snprintf(head, sizeof head, "LOGHEADERREC %-12lu", log.nextWrite);
    pisnp::sys::pwrite(fd, head, static_cast<size_t>(hn), 0);
    TRACE(TR_GENERAL, "utSetNextWrite(): nextWrite for END OF DATA is %d .\n",
          static_cast<int>(log.nextWrite));
    return 0;
}

}  // namespace logfile
