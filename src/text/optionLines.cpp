// Yes/no words and the lines of option files.
#include <cstring>

#include "base/sysCalls.h"
#include "pisnp/strings.h"
#include "pisnp/tokens.h"

namespace {

constexpr size_t kToggleWordMax = 29;
// Each list is searched for " WORD ", so that only whole words count.
constexpr char kYesWords[] =
    " YES YE Y YUP TRUE T ON YOUBETCHA OUI SI JA 1 COOL AFFIRMATIVE 10-4 WAY EXCELLENT "
    "BODACIOUS SURE ";
constexpr char kNoWords[] = " NO N NOPE FALSE F OFF OF NOWAYMAN NON NEIN 0 UNCOOL NEGATIVE BOGUS ";

bool worthReading(const char* line) {
    while (*line != '\0' && IsSpace(*line)) ++line;
    return *line != '\0' && *line != '*';
}

}  // namespace

int utilParseToggle(const char* word, int yes, int no) {
    if (word == nullptr) return kToggleUnknown;
    char key[kToggleWordMax + 3] = " ";
    std::strncat(key, word, kToggleWordMax);
    // A blank would let two neighbouring words of a list pass for one.
    if (std::strchr(key + 1, ' ') != nullptr) return kToggleUnknown;
    StrUpper(key);
    std::strcat(key, " ");
    if (std::strstr(kYesWords, key) != nullptr) return yes;
    if (std::strstr(kNoWords, key) != nullptr) return no;
    return kToggleUnknown;
}

char* utGetNextLine(char* buf, int size, FILE* stream, int* lineNo, int, int) {
    if (buf == nullptr || stream == nullptr || size <= 0) return nullptr;
    do {
        if (std::fgets(buf, size, stream) == nullptr) return nullptr;
        if (lineNo != nullptr) ++*lineNo;
        size_t n = std::strlen(buf);
        if (n > 0 && (buf[n - 1] == '\n' || buf[n - 1] == '\r')) buf[n - 1] = '\0';
    } while (!worthReading(buf));
    return buf;
}

FILE* utFileOpen(const char* name, const char* mode, int* lineNo, void*) {
    if (name == nullptr || mode == nullptr) return nullptr;
    FILE* f = pisnp::sys::fopen(name, mode);
    if (f != nullptr && lineNo != nullptr) *lineNo = 0;
    return f;
}
