// Accounts, the host name, aligned blocks and the directory of an executable program.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/report.h"
#include "base/sysCalls.h"
#include "pisnp/strings.h"
#include "pisnp/systemInfo.h"
#include "pisnp/traceFlags.h"

namespace {

constexpr size_t kHostNameMax = 64;
constexpr size_t kMaxPath = 4096;

// The record and its texts come from malloc: psFreeUserInfo is their only way back.
osUserInfo_t* copyAccount(const passwd* pw) {
    if (pw == nullptr) return nullptr;
    auto* info = static_cast<osUserInfo_t*>(std::calloc(1, sizeof(osUserInfo_t)));
    if (info == nullptr) return nullptr;
    info->userName = strdup(pw->pw_name);
    info->homeDir = strdup(pw->pw_dir);
    info->loginShell = strdup(pw->pw_shell);
    info->uid = pw->pw_uid;
    info->gid = pw->pw_gid;
    if (info->userName == nullptr || info->homeDir == nullptr || info->loginShell == nullptr) {
        psFreeUserInfo(info);
        return nullptr;
    }
    return info;
}

// getpw*_r with a buffer that grows until the entry fits.
template <typename Lookup>
osUserInfo_t* lookUp(Lookup lookup) {
    long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(hint > 0 ? static_cast<size_t>(hint) : 1024);
    for (;;) {
        passwd entry;
        passwd* found = nullptr;
        int rc = lookup(&entry, buf.data(), buf.size(), &found);
        if (rc == ERANGE && buf.size() < (1u << 20)) {
            buf.resize(buf.size() * 2);
            continue;
        }
        return rc == 0 ? copyAccount(found) : nullptr;
    }
}

bool isExecutableFile(const std::string& path) {
    struct stat st;
    return pisnp::sys::stat(path.c_str(), &st) == 0 &&
           pisnp::sys::access(path.c_str(), X_OK) == 0 && S_ISREG(st.st_mode);
}

// The program's path along PATH: the first entry that holds it as an executable file, else the
// last entry's, which the caller checks like any other candidate.
bool searchPath(const char* program, std::string* candidate) {
    const char* path = std::getenv("PATH");
    // Without PATH there is nowhere to look.
    if (path == nullptr) return false;
    for (;;) {
        const char* colon = std::strchr(path, ':');
        std::string entry(path,
                          colon != nullptr ? static_cast<size_t>(colon - path) : std::strlen(path));
        *candidate = entry + "/" + program;
        if (colon == nullptr || isExecutableFile(*candidate)) return true;
        path = colon + 1;
    }
}

}  // namespace

osUserInfo_t* psGetUserInfo(unsigned int uid) {
    return lookUp(
        [uid](passwd* e, char* b, size_t n, passwd** r) { return getpwuid_r(uid, e, b, n, r); });
}

osUserInfo_t* psGetUserInfo(char* name) {
    if (name == nullptr) return nullptr;
    return lookUp(
        [name](passwd* e, char* b, size_t n, passwd** r) { return getpwnam_r(name, e, b, n, r); });
}

void psFreeUserInfo(osUserInfo_t* info) {
    if (info == nullptr) return;
    std::free(info->userName);
    std::free(info->homeDir);
    std::free(info->loginShell);
    std::free(info);
}

void psGetComputerName(char* name) {
    static const char kFunction[] = "psGetComputerName()";
    REPORT_TRACE(TR_ENTER, "ENTER =====> %s\n", kFunction);
    if (name == nullptr) {
        REPORT_TRACE(TR_GENERAL, "%s: wrong arguments passed!\n", kFunction);
    } else {
        char host[kHostNameMax + 1] = "";
        if (gethostname(host, kHostNameMax) != 0) host[0] = '\0';
        host[kHostNameMax] = '\0';
        std::strcpy(name, host);
    }
    REPORT_TRACE(TR_EXIT, "EXIT  <===== %s\n", kFunction);
}

void* ps_aligned_malloc(unsigned long size, unsigned long alignment) {
    REPORT_TRACE(TR_MEMORY, "ps_aligned_malloc(): entry, size=%u, alignment=%u .\n",
                 static_cast<unsigned int>(size), static_cast<unsigned int>(alignment));
    void* block = nullptr;
    // posix_memalign's own answer to a bad alignment, given here: some allocators (the
    // sanitizers' among them) abort on one instead.
    bool valid = alignment >= sizeof(void*) && (alignment & (alignment - 1)) == 0;
    int rc = valid ? posix_memalign(&block, alignment, size) : EINVAL;
    if (rc != 0) {
        REPORT_TRACE(TR_MEMORY, "ps_aligned_malloc(): posix_memalign(): rc=%d.\n", rc);
        block = nullptr;
    }
    REPORT_TRACE(TR_MEMORY, "ps_aligned_malloc(): returning %p .\n", block);
    return block;
}

void ps_aligned_free(void* block) {
    REPORT_TRACE(TR_MEMORY, "ps_aligned_free(): entry.\n");
    if (block != nullptr) std::free(block);
    REPORT_TRACE(TR_MEMORY, "ps_aligned_free(): return.\n");
}

int psGetExecPath(char* program, char** directory) {
    if (program == nullptr || *program == '\0') return 0;
    std::string candidate;
    if (std::strchr(program, '/') != nullptr)
        candidate = program;
    else if (!searchPath(program, &candidate))
        return -1;
    std::string absolute = candidate;
    if (absolute[0] != '/') {
        char cwd[kMaxPath + 1];
        if (getcwd(cwd, sizeof cwd) == nullptr) return -1;
        absolute = std::string(cwd) + "/" + candidate;
    }
    if (absolute.back() != '/' && !isExecutableFile(absolute)) return -1;
    absolute.erase(absolute.rfind('/') + 1);
    char* copy = StrDup(absolute.c_str());
    if (copy == nullptr) return -1;
    *directory = copy;
    return 0;
}
