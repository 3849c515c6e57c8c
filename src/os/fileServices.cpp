// Names, existence, sizes, symbolic links and temporary names.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/report.h"
#include "base/sysCalls.h"
#include "os/osErrors.h"
#include "os/widePath.h"
#include "pisnp/files.h"
#include "pisnp/resultCodes.h"
#include "pisnp/traceFlags.h"

namespace {

constexpr size_t kMaxPath = 4096;

}  // namespace

int psBuildCurrentPath(char* out, char* name) {
    if (out == nullptr || name == nullptr || std::strchr(name, '/') != nullptr) return 0;
    char cwd[kMaxPath + 1];
    const char* dir = std::getenv("PWD");
    if (dir == nullptr || *dir == '\0') dir = getcwd(cwd, kMaxPath) != nullptr ? cwd : ".";
    while (*name == ' ') ++name;
    std::strcpy(out, dir);
    std::strcat(out, "/");
    std::strcat(out, name);
    return 0;
}

int psIsFileSymLink(char* path, char* target) {
    char buf[kMaxPath + 1];
    ssize_t n = readlink(path, buf, kMaxPath);
    if (n >= 0) {
        if (target != nullptr) {
            std::memcpy(target, buf, static_cast<size_t>(n));
            target[n] = '\0';
        }
        return 0;
    }
    int err = errno;
    // Missing, not a link, or out of reach: in every case there is no link to worry about.
    if (err == ENOENT || err == EINVAL || err == EACCES) return PISNP_RC_NOT_FOUND;
    REPORT_TRACE(TR_GENERAL | TR_FILEOPS,
                 "psIsFileSymLink: Error reading symbolic link%s, errno = %d\n", path, err);
    return pisnp::os::transErrno(err, "readlink");
}

int psDeleteSymLink(char* path) {
    if (pisnp::sys::unlink(path) == 0) return 0;
    int err = errno;
    if (err == ENOENT) return 0;
    REPORT_TRACE(TR_GENERAL | TR_FILEOPS,
                 "psDeleteSymLink: Error deleting symbolic link %s, errno = %d\n", path, err);
    return pisnp::os::transErrno(err, "unlink");
}

int psFileExists(const char* name) {
    if (name == nullptr || *name == '\0') return 0;
    struct stat st;
    return pisnp::sys::stat(name, &st) == 0 ? 1 : 0;
}

int psFileExists(const wchar_t* name) {
    char narrow[kMaxPath + 1];
    if (name == nullptr || *name == L'\0' || !pisnp::os::narrowPath(name, narrow, sizeof narrow))
        return 0;
    return psFileExists(narrow);
}

int psFileGetFileSize(char* path, unsigned long* size, int) {
    struct stat st;
    if (path == nullptr || pisnp::sys::stat(path, &st) != 0) {
        int err = path == nullptr ? EINVAL : errno;
        REPORT_TRACE(TR_FILEOPS,
                     "psFileGetFileSize(): Could not get information for file %s, errno(%d) %s\n",
                     path != nullptr ? path : "(null)", err, std::strerror(err));
        return -1;
    }
    if (size != nullptr) *size = static_cast<unsigned long>(st.st_size);
    return 0;
}

int psFileGetDirSize(char*, unsigned long* size, unsigned long* count) {
    if (size != nullptr) *size = 0;
    if (count != nullptr) *count = 0;
    REPORT_TRACE(TR_FILEOPS, "psFileGetDirSize(): function not implemented on platform\n");
    return PISNP_RC_NOT_ON_PLATFORM;
}

int psFileTempName(char* out) {
    if (out == nullptr) return -1;
    // The C library's own name generator (tmpnam) is one the linker warns about; a name the
    // system has just proved unique, freed again at once, promises the same and no more.
    char name[] = "/tmp/fileXXXXXX";
    int fd = pisnp::sys::mkostemp(name, O_CLOEXEC);
    if (fd < 0) return -1;
    pisnp::sys::close(fd);
    pisnp::sys::unlink(name);
    std::strcpy(out, name);
    return 0;
}

int psFileTempNameEx(char* out) {
    return psFileTempName(out);
}

int psGetAccessibleTempName(char* out) {
    return psFileTempName(out);
}
