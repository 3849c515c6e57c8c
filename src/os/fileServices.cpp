#include "pisnp/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/report.h"
#include "base/sysCalls.h"
#include "os/osErrors.h"
#include "pisnp/resultCodes.h"
#include "pisnp/traceFlags.h"

namespace {
constexpr size_t kMaxPath = 4096;
}

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
    char buf[PATH_MAX];
    ssize_t n = readlink(path, buf, sizeof buf - 1);
    if (n >= 0) {
        if (target != nullptr) {
            std::memcpy(target, buf, static_cast<size_t>(n));
            target[n] = '\0';
        }
        return 0;
    }
    int err = errno;
    if (err == ENOENT || err == EINVAL || err == EACCES || err == ENOTDIR)
        return PISNP_RC_NOT_FOUND;
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
    if (name == nullptr || *name == L'\0') return 0;
    std::mbstate_t state{};
    const wchar_t* src = name;
    size_t len = std::wcsrtombs(nullptr, &src, 0, &state);
    if (len == static_cast<size_t>(-1)) return 0;
    std::string narrow(len + 1, '\0');
    src = name;
    state = {};
    std::wcsrtombs(narrow.data(), &src, len + 1, &state);
    return psFileExists(narrow.c_str());
}
