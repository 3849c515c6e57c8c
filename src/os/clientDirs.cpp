#include "pisnp/clientDirs.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/report.h"
#include "base/sysCalls.h"
#include "mem/checkedAlloc.h"
#include "os/widePath.h"
#include "pisnp/files.h"
#include "pisnp/match.h"
#include "pisnp/resultCodes.h"
#include "pisnp/strings.h"
#include "pisnp/traceFlags.h"

namespace {

constexpr size_t kBaDirBytes = 1025;
constexpr size_t kKeyDirBytes = 1280;
constexpr size_t kFileNameBytes = 256;
constexpr size_t kMaxTestCertDir = 1278;

// Copies text into buf (size bytes) and adds a "/" when it does not end in one and there is room.
void copyDir(char* buf, unsigned long size, const char* text) {
    if (buf == nullptr || size == 0) return;
    std::snprintf(buf, size, "%s", text);
    size_t n = std::strlen(buf);
    if ((n == 0 || buf[n - 1] != '/') && n + 1 < size) std::strcpy(buf + n, "/");
}

// Text of the environment variable, or null when unset or empty.
const char* envText(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0' ? v : nullptr;
}

bool isDirectory(const char* path) {
    struct stat st;
    return pisnp::sys::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// A candidate key database directory: 0 accepted, 1 not a directory, 2 a directory without the
// file asked for.
int tryKeyDir(const char* dir, const char* fileName) {
    if (!isDirectory(dir)) return 1;
    if (fileName == nullptr || *fileName == '\0') return 0;
    std::string file = dir;
    if (file.back() != '/') file += '/';
    file += fileName;
    return psFileExists(file.c_str()) != 0 ? 0 : 2;
}

// Wide in, wide out, through an 8-bit buffer of kBytes.
template <size_t kBytes, typename Call>
int throughNarrow(wchar_t* out, unsigned long outSize, Call call) {
    char narrow[kBytes] = "";
    int rc = call(narrow, kBytes);
    if (out != nullptr && outSize > 0) {
        std::mbstate_t state{};
        const char* src = narrow;
        size_t n = std::mbsrtowcs(out, &src, outSize - 1, &state);
        out[n == static_cast<size_t>(-1) ? 0 : n] = L'\0';
    }
    return rc;
}

template <typename C>
void collapseSlashes(C* path) {
    if (path == nullptr) return;
    C* out = path;
    for (const C* in = path; *in != 0; ++in)
        if (*in != '/' || out == path || out[-1] != '/') *out++ = *in;
    *out = 0;
}

bool allDigits(const char* s) {
    if (*s == '\0') return false;
    for (; *s != '\0'; ++s)
        if (*s < '0' || *s > '9') return false;
    return true;
}

}  // namespace

int psGetBADir(char* buf, unsigned long size) {
    const char* dir = envText("ARC_DIR");
    copyDir(buf, size, dir != nullptr ? dir : kBaDirDefault);
    return 0;
}

int psGetBADir(wchar_t* buf, unsigned long size) {
    return throughNarrow<kBaDirBytes>(buf, size,
                                      [](char* b, size_t n) { return psGetBADir(b, n); });
}

int psGetDefaultStagingDir(char** dir) {
    if (dir == nullptr || *dir != nullptr) return PISNP_RC_INVALID_ARG;
    *dir = StrDup(kDefaultStagingDir);
    return *dir != nullptr ? 0 : PISNP_RC_NO_MEMORY;
}

int psGetDefaultSnapdiffChangeLogDir(char** dir) {
    static const char kName[] = "psGetDefaultSnapdiffChangeLogDir";
    REPORT_TRACE(TR_SNAPDIFF_INFO, "%s(): Entering...\n", kName);
    int rc = 0;
    if (dir == nullptr || *dir != nullptr) {
        rc = PISNP_RC_INVALID_ARG;
    } else if ((*dir = static_cast<char*>(ARC_MALLOC(kBaDirBytes))) == nullptr) {
        rc = PISNP_RC_NO_MEMORY;
    } else {
        psGetBADir(*dir, kBaDirBytes);
    }
    REPORT_TRACE(TR_SNAPDIFF_INFO, "%s: Exiting with rc=%d, default path=<%s>\n", kName, rc,
                 rc == 0 ? *dir : "");
    return rc;
}

int psCheckLibPath() {
    const char* value = envText("LD_LIBRARY_PATH");
    if (value == nullptr) return 0;
    std::string libPath = value;
    if (libPath.back() == '/') {
        libPath.pop_back();
        setenv("LD_LIBRARY_PATH", libPath.c_str(), 1);
    }
    char baDir[kBaDirBytes];
    psGetBADir(baDir, sizeof baDir);
    std::string dir = baDir;
    if (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    for (size_t at = libPath.find(dir); at != std::string::npos; at = libPath.find(dir, at + 1)) {
        size_t end = at + dir.size();
        if (end == libPath.size() || libPath[end] == ':') return 1;
    }
    return 0;
}

void psRemoveUnnecessaryDelimiters(char* path) {
    collapseSlashes(path);
}

void psRemoveUnnecessaryDelimiters(wchar_t* path) {
    collapseSlashes(path);
}

int psDoesPathCrossFSBorder(char* path, char* stopDir) {
    if (path == nullptr || *path == '\0') return 0;
    const char* stop = stopDir != nullptr ? stopDir : "";
    if (std::strcmp(path, stop) == 0) return 0;
    char* copy = StrDup(path);
    if (copy == nullptr) return 0;
    int crosses = 0;
    for (size_t i = std::strlen(copy); i-- > 1 && crosses == 0;) {
        if (copy[i] != '/') continue;
        copy[i] = '\0';
        if (std::strcmp(copy, stop) == 0) break;
        struct stat link, target;
        if (pisnp::sys::lstat(copy, &link) == 0 && S_ISLNK(link.st_mode) &&
            pisnp::sys::stat(copy, &target) == 0 && S_ISDIR(target.st_mode) &&
            target.st_dev != link.st_dev)
            crosses = 1;
    }
    ARC_FREE(copy);
    return crosses;
}

int psAreFSTypesEqual(char* a, char* b, int* equal) {
    char* ca = StrDup(a);
    char* cb = StrDup(b);
    struct statfs fa, fb;
    int rc =
        ca != nullptr && cb != nullptr && statfs(ca, &fa) == 0 && statfs(cb, &fb) == 0 ? 0 : -1;
    if (rc == 0 && equal != nullptr) *equal = fa.f_type == fb.f_type ? 1 : 0;
    if (ca != nullptr) ARC_FREE(ca);
    if (cb != nullptr) ARC_FREE(cb);
    return rc;
}

bool psIsProcessRunning(int pid) {
    return !(kill(pid, 0) != 0 && errno == ESRCH);
}

int psIsProcessRunning(char*) {
    return 0;
}

void psSetWindowTitle(char* title, int) {
    std::printf("%c]0;%s%c", 27, title != nullptr ? title : "", 7);
    std::fflush(stdout);
}

bool isUserAdmin() {
    return getuid() == 0;
}

int psGetGlobalKeyDBDir(clientOptions* opts, char* dirBuf, unsigned long bufSize, char* fileName) {
    REPORT_TRACE(TR_COMM, "psGetGlobalKeyDBDir: Entered.\n");
    if (dirBuf == nullptr || bufSize == 0) {
        REPORT_TRACE(TR_COMM,
                     "psGetGlobalKeyDBDir: invalid argument entered: dirBuf(%p), bufSize(%u)\n",
                     static_cast<void*>(dirBuf), static_cast<unsigned int>(bufSize));
        return PISNP_RC_INVALID_ARG;
    }
    const char* file = fileName != nullptr ? fileName : "";
    auto fail = [&] {
        std::memset(dirBuf, 0, bufSize);
        if (*file != '\0') return PISNP_RC_NOT_FOUND;
        REPORT_TRACE(TR_COMM, "Error, this should never happen.. the ARCI_DIR is not set!\n");
        return kNoClientDir;
    };
    auto accept = [&](const char* dir) {
        copyDir(dirBuf, bufSize, dir);
        REPORT_TRACE(TR_COMM, "psGetGlobalKeyDBDir: Exiting with dirBuf = %s\n", dirBuf);
        return 0;
    };

    if (TEST_C2S_CERTDIR.on != 0) {
        REPORT_TRACE(TR_COMM, "psGetGlobalKeyDBDir: testflag C2S_CERTDIR is enabled!\n");
        const char* dir = TEST_C2S_CERTDIR.text != nullptr ? TEST_C2S_CERTDIR.text : "";
        size_t len = std::strlen(dir);
        if (len == 0) return fail();
        if (len > kMaxTestCertDir || len >= bufSize) {
            REPORT_TRACE(TR_COMM, "psGetGlobalKeyDBDir: invalid argument (%s) entered.\n", dir);
            return PISNP_RC_INVALID_ARG;
        }
        switch (tryKeyDir(dir, file)) {
            case 0:
                REPORT_TRACE(TR_COMM,
                             "psGetGlobalKeyDBDir: Test C2S_CERTDIR directory (%s) exists.\n", dir);
                return accept(dir);
            case 2:
                std::memset(dirBuf, 0, bufSize);
                return PISNP_RC_NOT_FOUND;
            default:
                return fail();
        }
    }

    struct Candidate {
        const char* dir;
        const char* found;
    };
    const char* arcDir = envText("ARC_DIR");
    if (arcDir == nullptr && opts != nullptr && opts->clientDir[0] != '\0')
        arcDir = opts->clientDir;
    const char* configDir =
        opts != nullptr && opts->configDir[0] != '\0' ? opts->configDir : nullptr;
    const Candidate candidates[] = {
        {kBaDirDefault, "BA install directory exists, using it to get the path.\n"},
        {kApiDir, "API directory exists, using it to get the path.\n"},
        {arcDir, "ARC_DIR directory exists, using it to get the path.\n"},
        {configDir, "ARC_CONFIG directory exists, using it to get the path.\n"},
    };
    for (const Candidate& c : candidates) {
        if (c.dir == nullptr) continue;
        int found = tryKeyDir(c.dir, file);
        if (found == 0) {
            REPORT_TRACE(TR_COMM, "%s", c.found);
            return accept(c.dir);
        }
        // The configuration's directory is the last word: a file missing there is missing.
        if (found == 2 && c.dir == configDir) {
            std::memset(dirBuf, 0, bufSize);
            return PISNP_RC_NOT_FOUND;
        }
    }
    return fail();
}

int psGetGlobalKeyDBDir(clientOptions* opts, wchar_t* dirBuf, unsigned long bufSize,
                        wchar_t* fileName) {
    char file[kFileNameBytes] = "";
    if (fileName != nullptr && !pisnp::os::narrowPath(fileName, file, sizeof file))
        return PISNP_RC_INVALID_ARG;
    return throughNarrow<kKeyDirBytes>(
        dirBuf, bufSize, [&](char* b, size_t n) { return psGetGlobalKeyDBDir(opts, b, n, file); });
}

int psGetLocalKeyDBDir(char* dirBuf, unsigned long bufSize) {
    REPORT_TRACE(TR_COMM, "psGetLocalKeyDBDir: Entered.\n");
    if (dirBuf == nullptr || bufSize == 0) {
        REPORT_TRACE(TR_COMM,
                     "psGetLocalKeyDBDir: invalid argument entered: dirBuf(%p), bufSize(%u)\n",
                     static_cast<void*>(dirBuf), static_cast<unsigned int>(bufSize));
        return PISNP_RC_INVALID_ARG;
    }
    dirBuf[0] = '\0';
    if (TEST_C2C_DISABLE.on != 0) {
        REPORT_TRACE(TR_COMM, "psGetLocalKeyDBDir: testflag C2C_DISABLE is enabled!\n");
        return -1;
    }
    const char* home = envText("HOME");
    if (home != nullptr) {
        copyDir(dirBuf, bufSize, home);
        size_t n = std::strlen(dirBuf);
        std::snprintf(dirBuf + n, bufSize - n, "%s", kLocalCertDir);
    }
    REPORT_TRACE(TR_COMM, "psGetLocalKeyDBDir: Exiting with dirBuf = '%s'\n", dirBuf);
    return home != nullptr ? 0 : -1;
}

int psGetLocalKeyDBDir(wchar_t* dirBuf, unsigned long bufSize) {
    return throughNarrow<kKeyDirBytes>(dirBuf, bufSize,
                                       [](char* b, size_t n) { return psGetLocalKeyDBDir(b, n); });
}

void psFindDump(LinkedList_t** list) {
    static const char kName[] = "psFindDump";
    REPORT_TRACE(TR_ENTER, "ENTER =====> %s\n", kName);
    if (TEST_CORE_IGNORE.on == 1) {
        REPORT_TRACE(TR_GENERAL, "(%s) ignore core file detection\n", kName);
    } else if (list != nullptr) {
        *list = nullptr;
        char dir[kKeyDirBytes];
        if (getcwd(dir, sizeof dir) == nullptr) std::strcpy(dir, ".");
        size_t n = std::strlen(dir);
        if (n > 1 && dir[n - 1] == '/') dir[n - 1] = '\0';
        char dumps[] = "core.*";
        psFileEnumEntries(dir, dumps, 0, list, kEnumFiles);
        const char* exclude = TEST_EXCLUDECOREPATTERN.text;
        bool excluding = exclude != nullptr && *exclude != '\0';
        LinkedList_t* l = *list;
        for (llNode_t* node = l != nullptr ? l->GetNextItem(l, nullptr) : nullptr;
             node != nullptr;) {
            llNode_t* next = l->GetNextItem(l, node);
            const char* path = static_cast<psEnumEntry_t*>(l->GetData(l, node))->path;
            const char* slash = std::strrchr(path, '/');
            const char* name = slash != nullptr ? slash + 1 : path;
            bool dump =
                std::strncmp(name, "core.", 5) == 0 && allDigits(name + 5) &&
                !(excluding && Match(path, static_cast<int>(std::strlen(path)), exclude,
                                     static_cast<int>(std::strlen(exclude)), '*', '?', 0) == 1);
            if (dump) {
                REPORT_TRACE(TR_GENERAL, "%s: File is a core dump, keep it in the core list: %s\n",
                             kName, path);
            } else {
                REPORT_TRACE(TR_GENERAL,
                             "%s: File is not a core dump, excluded from the core list: %s\n",
                             kName, path);
                l->DeleteItem(l, node);
            }
            node = next;
        }
        if (l != nullptr && l->IsEmpty(l) != 0) {
            delete_LinkedList(l);
            *list = nullptr;
            char plain[] = "core";
            psFileEnumEntries(dir, plain, 0, list, kEnumFiles);
        }
    }
    REPORT_TRACE(TR_EXIT, "EXIT  <===== %s\n", kName);
}
