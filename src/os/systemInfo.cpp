#include "os/systemInfo.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "base/report.h"
#include "base/sysCalls.h"
#include "mem/checkedAlloc.h"
#include "pisnp/resultCodes.h"
#include "pisnp/strings.h"
#include "pisnp/traceFlags.h"

dsSystemInfo_t gosSystemInfo{};

namespace {

// The description's working buffer: 191 characters and the terminator, and one byte spare.
constexpr size_t kDescSize = 193;
constexpr size_t kDescMax = 191;
constexpr char kLsbRelease[] = "/usr/bin/lsb_release";
constexpr char kDefaultDescription[] = "Linux";

std::once_flag gFilled;

// Copies at most max characters of text (length n) and terminates.
void copyCut(char* out, const char* text, size_t n, size_t max) {
    if (n > max) n = max;
    std::memcpy(out, text, n);
    out[n] = '\0';
}

// Appends " " and text when text is not empty, within kDescMax characters.
void appendWord(char* desc, const char* text) {
    if (*text == '\0') return;
    size_t used = std::strlen(desc);
    if (used < kDescMax) desc[used++] = ' ';
    copyCut(desc + used, text, std::strlen(text), kDescMax - used);
}

bool readFailed(FILE* f) {
    return std::ferror(f) != 0;
}

// Each reader leaves desc as it found it ("") when its source has nothing, and returns 0 or the
// code of a read failure, which ends the search.
int fromLsbRelease(char* desc) {
    if (pisnp::sys::access(kLsbRelease, X_OK) != 0) return 0;
    FILE* p = pisnp::sys::popen("/usr/bin/lsb_release -ds 2>/dev/null", "r");
    if (p == nullptr) return 0;
    size_t n = std::fread(desc, 1, kDescMax, p);
    desc[n] = '\0';
    pisnp::sys::pclose(p);
    return 0;
}

int fromFirstLine(const char* path, char* desc) {
    FILE* f = pisnp::sys::fopen(path, "r");
    if (f == nullptr) return 0;
    if (std::fgets(desc, kDescMax + 1, f) == nullptr) desc[0] = '\0';
    int rc = readFailed(f) ? PISNP_RC_READ_FAILED : 0;
    pisnp::sys::fclose(f);
    return rc;
}

int fromSystemRelease(char* desc) {
    return fromFirstLine("/etc/system-release", desc);
}

int fromOsRelease(char* desc) {
    FILE* f = pisnp::sys::fopen("/etc/os-release", "r");
    if (f == nullptr) return 0;
    struct Field {
        const char* key;
        char value[kDescMax + 1];
    };
    Field name{"NAME", ""}, versionId{"VERSION_ID", ""}, version{"VERSION", ""},
        codename{"VERSION_CODENAME", ""};
    Field* fields[] = {&name, &versionId, &version, &codename};
    char firstLine[kDescMax + 1] = "";
    char line[kDescMax + 1];
    bool pretty = false;
    bool first = true;
    while (!pretty && std::fgets(line, sizeof line, f) != nullptr) {
        if (first) std::strcpy(firstLine, line);
        first = false;
        char* key;
        char* value;
        unsigned long keyLen, valueLen;
        parseReleaseLine(line, key, keyLen, value, valueLen);
        if (key == nullptr) continue;
        if (keyLen == 11 && std::strncmp(key, "PRETTY_NAME", keyLen) == 0) {
            copyCut(desc, value, valueLen, kDescMax);
            pretty = true;
            continue;
        }
        for (Field* field : fields) {
            if (keyLen == std::strlen(field->key) && std::strncmp(key, field->key, keyLen) == 0)
                copyCut(field->value, value, valueLen, kDescMax);
        }
    }
    int rc = readFailed(f) ? PISNP_RC_READ_FAILED : 0;
    pisnp::sys::fclose(f);
    if (rc != 0 || pretty) return rc;
    if (name.value[0] != '\0') {
        std::strcpy(desc, name.value);
        if (version.value[0] != '\0') {
            appendWord(desc, version.value);
        } else if (versionId.value[0] != '\0') {
            appendWord(desc, versionId.value);
            appendWord(desc, codename.value);
        }
    } else {
        std::strcpy(desc, firstLine);
    }
    return 0;
}

int fromIssue(char* desc) {
    FILE* f = pisnp::sys::fopen("/etc/issue", "r");
    if (f == nullptr) return 0;
    size_t n = std::fread(desc, 1, kDescMax, f);
    desc[n] = '\0';
    int rc = readFailed(f) ? PISNP_RC_READ_FAILED : 0;
    pisnp::sys::fclose(f);
    return rc;
}

// The release files carry quotes, line ends and the login prompt's escapes ("\n", "\l") that
// have no place in a one-line description.
const char* clean(char* desc) {
    char* p = desc;
    while (*p == ' ' || *p == '"' || *p == '\t' || *p == '\n' || *p == '\r') ++p;
    p[std::strcspn(p, "\r\n\"\\")] = '\0';
    constexpr char kWelcome[] = "Welcome to ";
    if (strncasecmp(p, kWelcome, sizeof kWelcome - 1) == 0) p += sizeof kWelcome - 1;
    return p;
}

// The operating system's description into out (kDescMax + 1 bytes).
void describeOs(char* out) {
    char* desc = static_cast<char*>(ARC_MALLOC(kDescSize));
    int rc = PISNP_RC_NO_MEMORY;
    if (desc != nullptr) {
        desc[0] = '\0';
        int (*const sources[])(char*) = {fromLsbRelease, fromSystemRelease, fromOsRelease,
                                         fromIssue};
        rc = 0;
        for (auto source : sources) {
            rc = source(desc);
            if (rc != 0 || desc[0] != '\0') break;
        }
    }
    if (rc != 0) REPORT_TRACE(TR_GENERAL, "Couldn't get info from OS files:rc = %d\n", rc);
    const char* text = rc == 0 ? clean(desc) : "";
    // A source whose text cleans away to nothing describes no more than no source at all.
    if (*text == '\0') text = kDefaultDescription;
    copyCut(out, text, std::strlen(text), kDescMax);
    if (desc != nullptr) ARC_FREE(desc);
}

}  // namespace

void pisnp::os::fillSystemInfo(dsSystemInfo_t* info) {
    info->initialized = 1;
    info->reserved[0] = info->reserved[1] = 0;
    utsname names;
    if (uname(&names) == 0)
        copyCut(info->osRelease, names.release, std::strlen(names.release),
                sizeof info->osRelease - 1);
    else
        info->osRelease[0] = '\0';
    char desc[kDescMax + 1];
    describeOs(desc);
    char level[sizeof "LNX:" + kDescMax];
    std::snprintf(level, sizeof level, "LNX:%s", desc);
    copyCut(info->osLevel, level, std::strlen(level), sizeof info->osLevel - 1);
    info->machineIdRc = psGetGuid(info->machineId);
    std::strcpy(info->platform, "PPC64");
    for (int& flag : info->flags) flag = 0;
}

dsSystemInfo_t* dsGetSystemInfo() {
    std::call_once(gFilled, [] { pisnp::os::fillSystemInfo(&gosSystemInfo); });
    return &gosSystemInfo;
}

void psSetArgcArgv(int argc, char** argv) {
    gosSystemInfo.argc = argc;
    gosSystemInfo.argv = argv;
}

void psUnInitialization() {
    std::free(gosSystemInfo.execDir);
    gosSystemInfo.execDir = nullptr;
}

void parseReleaseLine(char* line, char*& key, unsigned long& keyLen, char*& value,
                      unsigned long& valueLen) {
    key = value = nullptr;
    keyLen = valueLen = 0;
    if (line == nullptr) return;
    while (std::isspace(static_cast<unsigned char>(*line))) ++line;
    char* eq = std::strchr(line, '=');
    if (eq == nullptr || eq == line) return;
    key = line;
    keyLen = static_cast<unsigned long>(eq - line);
    char* v = eq + 1;
    char quote = *v == '"' || *v == '\'' ? *v : '\0';
    if (quote != '\0') ++v;
    size_t n = std::strlen(v);
    while (n > 0 && std::isspace(static_cast<unsigned char>(v[n - 1]))) --n;
    if (quote != '\0' && n > 0 && v[n - 1] == quote) --n;
    value = v;
    valueLen = n;
}

int psGetGuid(unsigned char* id) {
    std::memset(id, 0, 16);
    return 0;
}

int psGetArcEnvVar(arcEnvVar_t, char*, unsigned long) {
    return 1;
}

int psSelEncodePattern(unsigned char pattern) {
    return pattern == 1 ? 1 : 0;
}
