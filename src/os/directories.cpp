// Creating, removing and listing directories.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "base/report.h"
#include "base/sysCalls.h"
#include "mem/checkedAlloc.h"
#include "os/osErrors.h"
#include "pisnp/files.h"
#include "pisnp/match.h"
#include "pisnp/resultCodes.h"
#include "pisnp/strings.h"
#include "pisnp/traceFlags.h"

namespace {

constexpr mode_t kDirMode = 0777;
// Longest directory and name, together, that the enumeration builds a path of.
constexpr size_t kEnumPathMax = 4352;
constexpr size_t kEnumPatternMax = 256;

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

// Appends a new entry record; false without memory.
bool append(LinkedList_t* list, const std::string& path, bool isDir) {
    auto* entry = static_cast<psEnumEntry_t*>(ARC_MALLOC(sizeof(psEnumEntry_t)));
    if (entry == nullptr) return false;
    entry->path = StrDup(path.c_str());
    entry->isFile = isDir ? 0 : 1;
    if (entry->path == nullptr || list->InsertAtBottom(list, entry) == nullptr) {
        FreeEnumEntry(entry);
        return false;
    }
    return true;
}

// One directory's entries; see EnumerateEntriesInDir.
int enumerate(const char* dir, const char* pattern, int recurse, LinkedList_t* list,
              unsigned int what) {
    REPORT_TRACE(TR_DIRDETAIL, "EnumerateEntriesInDir(): openddir %s\n", dir);
    DIR* d = opendir(dir);
    if (d == nullptr) {
        REPORT_TRACE(TR_ERROR, "EnumerateEntriesInDir(): opendir(%s) failed with error <%d>.\n",
                     dir, errno);
        return PISNP_RC_INVALID_ARG;
    }
    int rc = 0;
    std::string full;
    size_t dirLen = std::strlen(dir);
    for (dirent* entry; (entry = readdir(d)) != nullptr;) {
        const char* name = entry->d_name;
        if (isDotOrDotDot(name)) continue;
        size_t nameLen = std::strlen(name);
        if (dirLen + nameLen >= kEnumPathMax) {
            rc = PISNP_RC_PATH_SKIPPED;
            pisnp::report::diag(__FILE_NAME__, __LINE__, TR_ERROR,
                                "path plus file name too long to process, skipping. %s %s\n", dir,
                                name);
            continue;
        }
        full.assign(dir).append("/").append(name);
        struct stat st;
        if (pisnp::sys::stat(full.c_str(), &st) != 0) {
            REPORT_TRACE(TR_ERROR, "EnumerateEntriesInDir(): stat failed errno %d for %s\n", errno,
                         full.c_str());
            rc = PISNP_RC_EXEC_FAILED;
            break;
        }
        bool isDir = S_ISDIR(st.st_mode);
        if ((what & (isDir ? kEnumDirs : kEnumFiles)) != 0) {
            if (Match(name, static_cast<int>(nameLen), pattern,
                      static_cast<int>(std::strlen(pattern)), '*', '?', 0) == 1) {
                if (!append(list, full, isDir)) {
                    rc = PISNP_RC_NO_MEMORY;
                    break;
                }
            } else {
                REPORT_TRACE(TR_DIRDETAIL,
                             "EnumerateEntriesInDir(): readdir() returned '%s'which doesn't match "
                             "pattern '%s'\n",
                             name, pattern);
            }
        }
        // A directory reached through a link is listed but not entered: links could lead back
        // up the tree without end.
        struct stat own;
        if (recurse == 1 && isDir && pisnp::sys::lstat(full.c_str(), &own) == 0 &&
            S_ISDIR(own.st_mode)) {
            int sub = EnumerateEntriesInDir(full.c_str(), pattern, recurse, list, what);
            if (sub != 0) {
                rc = sub;
                break;
            }
        }
    }
    closedir(d);
    return rc;
}

// The behaviour of earlier releases, which some callers still ask for by test flag: names
// ending in the pattern without its first character, all listed as files, no recursion.
int enumerateOld(const char* dir, const char* pattern, int recurse, LinkedList_t* list) {
    if (recurse == 1) {
        REPORT_TRACE(TR_GENERAL, "psFileEnumEntries() does not yet support recursion\n");
        return PISNP_RC_INVALID_ARG;
    }
    DIR* d = opendir(dir);
    if (d == nullptr) {
        REPORT_TRACE(TR_GENERAL, "psFileEnumEntries: opendir(/dev) failed with error <%d>.\n",
                     errno);
        return PISNP_RC_INVALID_ARG;
    }
    size_t patternLen = std::strlen(pattern);
    const char* suffix = patternLen > 1 ? pattern + 1 : "";
    size_t suffixLen = std::strlen(suffix);
    int rc = 0;
    for (dirent* entry; rc == 0 && (entry = readdir(d)) != nullptr;) {
        size_t n = std::strlen(entry->d_name);
        if (isDotOrDotDot(entry->d_name) || n < suffixLen ||
            std::strcmp(entry->d_name + n - suffixLen, suffix) != 0)
            continue;
        if (!append(list, std::string(dir) + "/" + entry->d_name, false)) rc = PISNP_RC_NO_MEMORY;
    }
    closedir(d);
    return rc;
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

void FreeEnumEntry(void* entry) {
    if (entry == nullptr) return;
    auto* e = static_cast<psEnumEntry_t*>(entry);
    if (e->path != nullptr) ARC_FREE(e->path);
    ARC_FREE(e);
}

int EnumerateEntriesInDir(const char* dir, const char* pattern, int recurse, LinkedList_t* list,
                          unsigned int what) {
    static const char kName[] = "EnumerateEntriesInDir()";
    REPORT_TRACE(TR_ENTER, "ENTER =====> %s\n", kName);
    int rc = dir != nullptr && list != nullptr
                 ? enumerate(dir, pattern != nullptr ? pattern : "*", recurse, list, what)
                 : PISNP_RC_INVALID_ARG;
    REPORT_TRACE(TR_EXIT, "EXIT  <===== %s, rc = %d\n", kName, rc);
    return rc;
}

int psFileEnumEntries(char* dir, char* pattern, int recurse, LinkedList_t** list, unsigned int what,
                      ...) {
    static const char kName[] = "psFileEnunEntries()";
    REPORT_TRACE(TR_ENTER, "ENTER =====> %s\n", kName);
    int rc = 0;
    if (list == nullptr || *list != nullptr || dir == nullptr) {
        REPORT_TRACE(TR_GENERAL, "psFileEnumEntries(): invalid parm\n");
        rc = PISNP_RC_INVALID_ARG;
    } else if ((*list = new_LinkedList(FreeEnumEntry, 0)) == nullptr) {
        rc = PISNP_RC_NO_MEMORY;
    } else {
        // The working copies are as long as the enumeration's paths and patterns may be.
        std::string dirCopy(dir, strnlen(dir, kEnumPathMax - 1));
        std::string patternCopy =
            pattern != nullptr ? std::string(pattern, strnlen(pattern, kEnumPatternMax - 1)) : "*";
        rc =
            TEST_UNIX_OLD_PSFILEENUMENTRIES.on != 0
                ? enumerateOld(dirCopy.c_str(), patternCopy.c_str(), recurse, *list)
                : EnumerateEntriesInDir(dirCopy.c_str(), patternCopy.c_str(), recurse, *list, what);
    }
    REPORT_TRACE(TR_EXIT, "EXIT  <===== %s, rc = %d\n", kName, rc);
    return rc;
}

int sourceCmp(void* a, void* b) {
    return StrCmp(static_cast<const char*>(a), static_cast<const char*>(b)) == 0 ? 0 : 2;
}
