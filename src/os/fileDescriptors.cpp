// Files by descriptor, and record locks on them.
#include <cerrno>
#include <cstring>

#include "base/report.h"
#include "base/sysCalls.h"
#include "os/osErrors.h"
#include "pisnp/files.h"
#include "pisnp/traceFlags.h"

namespace {

struct flock describe(int type, long start, int whence, long len) {
    struct flock lock {};
    lock.l_type = static_cast<short>(type);
    lock.l_whence = static_cast<short>(whence);
    lock.l_start = start;
    lock.l_len = len;
    return lock;
}

// The result of a read or write of n bytes: traced, and on failure translated into *rc.
int transferred(ssize_t n, bool failed, int fd, int* rc, const char* op, const char* failedFormat,
                const char* doneFormat) {
    if (failed) {
        int err = errno;
        if (rc != nullptr) *rc = pisnp::os::transErrno(err, op);
        REPORT_TRACE(TR_FILEOPS, failedFormat, static_cast<int>(n), fd, err, std::strerror(err));
        return 0;
    }
    if (rc != nullptr) *rc = 0;
    REPORT_TRACE(TR_FILEOPS, doneFormat, static_cast<int>(n), fd);
    return static_cast<int>(n);
}

}  // namespace

int psFileOpen(char* path, unsigned int access, unsigned int, unsigned int create, unsigned int,
               unsigned int permissions, int*) {
    int flags = static_cast<int>(access | create);
    int mode = static_cast<int>(permissions);
    int fd = pisnp::sys::open(path, flags, static_cast<mode_t>(permissions));
    if (fd < 0) {
        int err = errno;
        REPORT_TRACE(
            TR_FILEOPS,
            "psFileOpen(): failed to open file '%s' with oflag=%d mode=%d; errno=%d (%s)\n", path,
            flags, mode, err, std::strerror(err));
        errno = err;
    } else {
        REPORT_TRACE(TR_FILEOPS,
                     "psFileOpen(): obtained hande %d for file '%s' with oflag=%d mode=%d\n", fd,
                     path, flags, mode);
    }
    return fd;
}

int psFileRead(int fd, void* buf, unsigned int len, int* rc) {
    ssize_t n = pisnp::sys::read(fd, buf, len);
    return transferred(n, n < 0, fd, rc, "read",
                       "psFileRead(): read %d btes of data on handle %d; errno=%d (%s)\n",
                       "psFileRead(): read %d bytes of data on handle %d\n");
}

int psFileWrite(int fd, void* buf, unsigned int len, int* rc) {
    ssize_t n = pisnp::sys::write(fd, buf, len);
    return transferred(n, n <= 0, fd, rc, "write",
                       "psFileWrite(): wrote %d btes of data on handle %d; errno=%d (%s)\n",
                       "psFileWrite(): wrote %d bytes of data on handle %d\n");
}

int psFileClose(int fd) {
    REPORT_TRACE(TR_FILEOPS, "psFileClose(): closing file handle %d\n", fd);
    return pisnp::sys::close(fd);
}

int psFileLock(int fd, int cmd, int type, long start, int whence, long len) {
    struct flock lock = describe(type, start, whence, len);
    return pisnp::sys::fcntlLock(fd, cmd, &lock);
}

int psFileLockTest(int fd, int type, long start, int whence, long len) {
    struct flock lock = describe(type, start, whence, len);
    if (pisnp::sys::fcntlLock(fd, F_GETLK, &lock) != 0) return -1;
    return lock.l_type == F_UNLCK ? 0 : static_cast<int>(lock.l_pid);
}
