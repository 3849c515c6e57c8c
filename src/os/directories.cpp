// Creating, removing and listing directories.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "base/report.h"
#include "base/sysCalls.h"
#include "os/osErrors.h"
#include "pisnp/files.h"
#include "pisnp/resultCodes.h"
#include "pisnp/strings.h"
#include "pisnp/traceFlags.h"

namespace {

constexpr mode_t kDirMode = 0777;

// Opens a directory that lstat has just shown to be one, refusing a symbolic link put in its
// place since: removal must never wander out of the tree it was given.
DIR* openNoFollow(const char* path) {
    int fd = pisnp::sys::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return nullptr;
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) pisnp::sys::close(fd);
    return dir;
}

bool isDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

}  // namespace

int psFileCreateDir(char* path, void*) {
    if (path == nullptr) return PISNP_RC_INVALID_ARG;
    REPORT_TRACE(TR_ENTER, "psFileCreateDir(%s): Entry.\n", path);
    int rc = pisnp::sys::mkdir(path, kDirMode);
    int err = rc == 0 ? 0 : errno;
    if (err == EEXIST) {
        REPORT_TRACE(TR_EXIT, "psFileCreateDir, Directory exists\n");
        return 0;
    }
    REPORT_TRACE(TR_EXIT, "psFileCreateDir, mkdir rc = %d, errno = %d.\n", rc, err);
    return rc == 0 ? 0 : pisnp::os::transErrno(err, "psFileCreateDir:mkdir");
}

int psMakePath(char* path) {
    if (path == nullptr) return 0;
    std::string prefix;
    for (const char* slash = path + (*path != '\0' ? 1 : 0);
         (slash = std::strchr(slash, '/')) != nullptr; ++slash) {
        prefix.assign(path, static_cast<size_t>(slash - path));
        if (pisnp::sys::mkdir(prefix.c_str(), kDirMode) != 0 && errno != EEXIST) {
            REPORT_TRACE(TR_VMGEN, "vmMakePath: mkdir failed for %s because %s\n", prefix.c_str(),
                         std::strerror(errno));
            return 0;
        }
    }
    return 1;
}

int psFileRemoveDir(char* path) {
    if (path == nullptr || *path == '\0') return 0;
    return pisnp::sys::rmdir(path);
}

int psFileRemove(char* path) {
    if (pisnp::sys::unlink(path) == 0) return 0;
    int err = errno;
    REPORT_TRACE(TR_FILEOPS, "psFileRemove(): Failed to delete file <%s>, error=<%d>\n", path, err);
    return pisnp::os::transErrno(err, "unlink");
}

int psFileRemoveDirEx(char* path) {
    struct stat st;
    if (path == nullptr || *path == '\0' || pisnp::sys::lstat(path, &st) != 0 ||
        !S_ISDIR(st.st_mode))
        return 0;
    DIR* dir = openNoFollow(path);
    if (dir == nullptr) return 0;
    int rc = 0;
    std::string full;
    while (rc == 0) {
        errno = 0;
        dirent* entry = readdir(dir);
        if (entry == nullptr) break;
        if (isDotOrDotDot(entry->d_name)) continue;
        full.assign(path).append("/").append(entry->d_name);
        // An entry that cannot be examined (its path too long, say) is no directory to us:
        // unlinking it reports why it stays.
        struct stat es;
        if (pisnp::sys::lstat(full.c_str(), &es) == 0 && S_ISDIR(es.st_mode))
            rc = psFileRemoveDirEx(full.data());
        else
            rc = psFileRemove(full.data());
    }
    closedir(dir);
    if (rc != 0) return rc;
    rc = psFileRemoveDir(path);
    if (rc != 0) REPORT_TRACE(TR_ERROR, "psFileRemoveDir: error %d\n", rc);
    return rc;
}

int sourceCmp(void* a, void* b) {
    return StrCmp(static_cast<const char*>(a), static_cast<const char*>(b)) == 0 ? 0 : 2;
}
