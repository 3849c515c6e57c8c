#include <cstdlib>
#include <cwchar>

#include "mem/checkedAlloc.h"
#include "pisnp/strings.h"
#include "text/strInternal.h"

using namespace text_detail;

size_t StrLen(const char* s) {
    return s != nullptr ? len(s) : 0;
}
size_t StrLen(const wchar_t* s) {
    return s != nullptr ? len(s) : 0;
}

size_t StrLenInByte(const char* s) {
    return StrLen(s);
}
size_t StrLenInByte(const wchar_t* s) {
    return sizeof(wchar_t) * StrLen(s);
}

size_t StrLenInChar(const char* s) {
    if (s == nullptr) return 0;
    const LocaleFacts& facts = localeFacts();
    if (facts.kind == LocaleFacts::kSingleByte) return len(s);
    bool asciiIsChar = facts.asciiIsChar();
    size_t count = 0;
    while (*s != '\0') {
        int n = charBytes(s, asciiIsChar);
        s += n > 0 ? n : 1;
        ++count;
    }
    return count;
}

size_t StrLenInChar(const wchar_t* s) {
    return StrLen(s);
}

int CharSize(const char* s) {
    return s != nullptr ? charBytes(s, localeFacts().asciiIsChar()) : 0;
}
int CharSize(const wchar_t*) {
    return 1;
}

bool IsSBCSStr(const char* s) {
    if (s == nullptr) return false;
    bool asciiIsChar = localeFacts().asciiIsChar();
    for (; *s != '\0'; ++s) {
        if (charBytes(s, asciiIsChar) != 1) return false;
    }
    return true;
}

bool IsSBCSStr(const wchar_t*) {
    return false;
}

char* CharAdv(const char* s) {
    if (s == nullptr || *s == '\0') return nullptr;
    int n = charBytes(s, localeFacts().asciiIsChar());
    return const_cast<char*>(s + (n > 0 ? n : 1));
}

wchar_t* CharAdv(const wchar_t* s) {
    if (s == nullptr || *s == L'\0') return nullptr;
    return const_cast<wchar_t*>(s + 1);
}

// Widths are asked of whole lines laid out in columns, so the text is converted in full into a
// checked block rather than cut at the working-buffer limit.
int StrWidth(const char* s, size_t n) {
    int width = -1;
    if (s != nullptr) {
        wchar_t* wide = StrDup(static_cast<wchar_t*>(nullptr), s);
        if (wide != nullptr) {
            width = wcswidth(wide, n);
            ARC_FREE(wide);
        }
    }
    return width >= 1 ? width : static_cast<int>(StrLen(s));
}

int CharWidth(const char* s) {
    if (s == nullptr) return 1;
    std::mbstate_t state{};
    wchar_t wc = 0;
    size_t n = std::mbrtowc(&wc, s, MB_CUR_MAX, &state);
    if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) return 1;
    int width = wcwidth(wc);
    return width >= 1 ? width : 1;
}
