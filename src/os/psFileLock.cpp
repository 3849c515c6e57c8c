// The lock-file class: one regular file per lock, an exclusive record lock over all of it.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/report.h"
#include "base/sysCalls.h"
#include "os/widePath.h"
#include "pisnp/files.h"
#include "pisnp/traceFlags.h"

namespace {

constexpr size_t kPathBytes = 4096 + 1;

// Traces entry and exit of an operation; the report hooks keep errno as it is.
class EnterExit {
  public:
    explicit EnterExit(const char* name) : name_(name) {
        REPORT_TRACE(TR_ENTER, "ENTER =====> %s\n", name_);
    }
    ~EnterExit() { REPORT_TRACE(TR_EXIT, "EXIT  <===== %s\n", name_); }
    EnterExit(const EnterExit&) = delete;
    EnterExit& operator=(const EnterExit&) = delete;

  private:
    const char* name_;
};

// Places (or removes) the lock over the whole file; a failure is noted in lastErrno and errno.
int placeLock(class psFileLock& self, short type, int command, const char* name) {
    self.lock = {};
    self.lock.l_type = type;
    self.lock.l_whence = SEEK_SET;
    self.lock.l_pid = getpid();
    if (pisnp::sys::fcntlLock(self.fd, command, &self.lock) == 0) return 1;
    self.lastErrno = errno;
    REPORT_TRACE(TR_FILEOPS, "(%s): fcntl(%d) failed with errno: %d (%s)\n", name, self.fd,
                 self.lastErrno, std::strerror(self.lastErrno));
    return 0;
}

}  // namespace

psFileLock::psFileLock() : fd(-1), lastErrno(-1), created(0), stream(nullptr), lock{} {}

psFileLock::~psFileLock() {
    closeLockFile();
}

int psFileLock::createLockFile(char* name, unsigned int mode) {
    static const char kName[] = "psFileLock::createLockFile";
    EnterExit trace(kName);
    if (stream != nullptr) return 1;
    if (name == nullptr || *name == '\0') {
        lastErrno = EACCES;
        REPORT_TRACE(TR_FILEOPS, "(%s): the passed-in lock file name is empty!\n", kName);
        return 0;
    }
    auto fail = [this](const char* fmt, auto... args) {
        lastErrno = errno;
        REPORT_TRACE(TR_FILEOPS, fmt, args..., lastErrno, std::strerror(lastErrno));
        errno = lastErrno;
        return 0;
    };

    int isNew = 1;
    struct stat st;
    if (pisnp::sys::lstat(name, &st) == 0) {
        if (S_ISREG(st.st_mode)) {
            isNew = 0;
        } else {
            // Whatever stands there (a link planted to make the lock open another file, a
            // directory, a device) is no lock file of ours.
            if (std::remove(name) != 0)
                return fail("(%s): remove(%s) failed with errno: %d (%s)\n", kName, name);
            REPORT_TRACE(TR_FILEOPS, "(%s): a non-regular lock file %s has been detected.\n", kName,
                         name);
        }
    } else if (errno != ENOENT) {
        return fail("(%s): lstat(%s) failed with errno: %d (%s)\n", kName, name);
    }

    int newFd =
        isNew != 0 ? pisnp::sys::open(name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666) : -1;
    // Another process may make the file between the look and the creation: then it is theirs,
    // and the same lock file for both of us.
    if (isNew != 0 && newFd < 0 && errno == EEXIST) isNew = 0;
    if (isNew != 0) {
        if (newFd < 0) return fail("(%s): open(%s) failed with errno: %d (%s)\n", kName, name);
        if (mode != 0 && fchmod(newFd, mode) != 0) {
            int err = errno;
            REPORT_TRACE(TR_FILEOPS, "%s(%s): fchmod(%d %o) failed with errno: %d (%s)\n", kName,
                         name, newFd, mode, err, std::strerror(err));
        }
        if (pisnp::sys::close(newFd) != 0)
            return fail("%s(%s): close(%d) failed with errno: %d (%s)\n", kName, name, newFd);
    }

    // Opened without following a link, so that one put in place of the file since it was
    // examined is refused rather than locked and written through.
    int openFd = pisnp::sys::open(name, O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    FILE* opened = openFd >= 0 ? pisnp::sys::fdopen(openFd, "rb+") : nullptr;
    if (opened == nullptr) {
        int err = errno;
        if (openFd >= 0) pisnp::sys::close(openFd);
        errno = err;
        return fail("(%s): fopen(%s) failed with errno: %d (%s)\n", kName, name);
    }
    stream = opened;
    fd = openFd;
    created = isNew;
    lastErrno = 0;
    return 1;
}

int psFileLock::createLockFile(wchar_t* name, unsigned int mode) {
    char narrow[kPathBytes];
    if (name == nullptr || !pisnp::os::narrowPath(name, narrow, sizeof narrow)) {
        lastErrno = errno;
        return 0;
    }
    return createLockFile(narrow, mode);
}

int psFileLock::lockExclusive(int wait) {
    static const char kName[] = "psFileLock::lockExclusive";
    EnterExit trace(kName);
    return placeLock(*this, F_WRLCK, wait == 1 ? F_SETLKW : F_SETLK, kName);
}

int psFileLock::unlock() {
    static const char kName[] = "psFileLock::unlock";
    EnterExit trace(kName);
    return placeLock(*this, F_UNLCK, F_SETLK, kName);
}

int psFileLock::isLocked() {
    static const char kName[] = "psFileLock::isLocked";
    EnterExit trace(kName);
    struct flock query {};
    query.l_type = F_WRLCK;
    query.l_whence = SEEK_SET;
    if (pisnp::sys::fcntlLock(fd, F_GETLK, &query) != 0) {
        lastErrno = errno;
        REPORT_TRACE(TR_FILEOPS, "(%s): fcntl(%d) failed with errno: %d (%s)\n", kName, fd,
                     lastErrno, std::strerror(lastErrno));
        return 0;
    }
    if (query.l_type == F_UNLCK) {
        REPORT_TRACE(TR_FILEOPS, "(%s): lock file %d is not locked\n", kName, fd);
        return 0;
    }
    REPORT_TRACE(TR_FILEOPS, "(%s): lock file %d is locked by pid %d\n", kName, fd,
                 static_cast<int>(query.l_pid));
    return 1;
}

void psFileLock::closeLockFile() {
    if (stream == nullptr) return;
    if (pisnp::sys::fclose(stream) != 0) {
        int err = errno;
        REPORT_TRACE(TR_FILEOPS,
                     "psFileLock::closeLockFile: fclose(%p) failed with errno: %d (%s)\n",
                     static_cast<void*>(stream), err, std::strerror(err));
    }
    fd = -1;
    lastErrno = -1;
    created = 0;
    stream = nullptr;
    lock = {};
}
