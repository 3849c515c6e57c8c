#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <type_traits>

#include "pisnp/strings.h"
#include "text/strInternal.h"

using namespace text_detail;

namespace {

constexpr size_t kAll = static_cast<size_t>(-1);

wint_t upperWide(wint_t c) {
    return std::towupper(c);
}
wint_t lowerWide(wint_t c) {
    return std::towlower(c);
}
int upperAscii(int c) {
    return c >= 'a' && c <= 'z' ? c - 0x20 : c;
}
int lowerAscii(int c) {
    return c >= 'A' && c <= 'Z' ? c + 0x20 : c;
}

// Maps the first maxChars characters in place, one character at a time: the mapped character
// replaces the original only when it takes the same number of bytes, because the caller's buffer
// has no room for growth and a shrunk character would leave a hole. Bytes that are not valid
// text are stepped over one at a time and left alone. Working per character needs no copy of
// the text, so no length limit applies.
template <wint_t (*map)(wint_t), int (*ascii)(int)>
char* mapMultibyte(char* s, size_t maxChars) {
    if (s == nullptr) return nullptr;
    const LocaleFacts& facts = localeFacts();
    // An ASCII byte that is a character of its own and maps within ASCII is mapped in place.
    bool plainAscii = facts.asciiIsChar() && facts.asciiFoldsPlainly;
    char* p = s;
    for (size_t i = 0; i < maxChars && *p != '\0'; ++i) {
        if (plainAscii && (*p & 0x80) == 0) {
            *p = static_cast<char>(ascii(*p));
            ++p;
            continue;
        }
        std::mbstate_t state{};
        wchar_t wc = 0;
        size_t n = std::mbrtowc(&wc, p, MB_CUR_MAX, &state);
        if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) {
            ++p;
            continue;
        }
        auto mapped = static_cast<wchar_t>(map(static_cast<wint_t>(wc)));
        if (mapped != wc) {
            char bytes[MB_LEN_MAX];
            std::mbstate_t out{};
            if (std::wcrtomb(bytes, mapped, &out) == n) std::memcpy(p, bytes, n);
        }
        p += n;
    }
    return s;
}

template <wint_t (*map)(wint_t)>
wchar_t* mapWide(wchar_t* s, size_t maxChars) {
    if (s == nullptr) return nullptr;
    for (size_t i = 0; i < maxChars && s[i] != L'\0'; ++i) {
        s[i] = static_cast<wchar_t>(map(static_cast<wint_t>(s[i])));
    }
    return s;
}

// The bit 0x20 is the whole difference between the cases in ASCII; everything outside the
// letters, including every byte above 0x7F, must stay as it is.
template <typename C>
C* upper7Bit(C* s) {
    if (s == nullptr) return nullptr;
    for (C* p = s; *p != 0; ++p) {
        if (*p >= 'a' && *p <= 'z') *p = static_cast<C>(*p & ~0x20);
    }
    return s;
}

template <typename C>
C* lower7Bit(C* s) {
    if (s == nullptr) return nullptr;
    for (C* p = s; *p != 0; ++p) {
        if (*p >= 'A' && *p <= 'Z') *p = static_cast<C>(*p | 0x20);
    }
    return s;
}

template <typename C, int (*fold)(C)>
bool unchangedBy(const C* s) {
    if (s == nullptr) return true;
    for (; *s != 0; ++s) {
        if (fold(*s) != static_cast<int>(static_cast<std::make_unsigned_t<C>>(*s))) return false;
    }
    return true;
}

}  // namespace

char* psStrUpper(char* s) {
    return mapMultibyte<upperWide, upperAscii>(s, kAll);
}
char* psStrLower(char* s) {
    return mapMultibyte<lowerWide, lowerAscii>(s, kAll);
}
char* StrUpper(char* s) {
    return psStrUpper(s);
}
char* StrLower(char* s) {
    return psStrLower(s);
}
wchar_t* StrUpper(wchar_t* s) {
    return mapWide<upperWide>(s, kAll);
}
wchar_t* StrLower(wchar_t* s) {
    return mapWide<lowerWide>(s, kAll);
}
char* StrnUpper(char* s, size_t n) {
    return mapMultibyte<upperWide, upperAscii>(s, n);
}
wchar_t* StrnUpper(wchar_t* s, size_t n) {
    return mapWide<upperWide>(s, n);
}

char* StrUpper7Bit(char* s) {
    return upper7Bit(s);
}
wchar_t* StrUpper7Bit(wchar_t* s) {
    return upper7Bit(s);
}
char* StrLower7Bit(char* s) {
    return lower7Bit(s);
}
wchar_t* StrLower7Bit(wchar_t* s) {
    return lower7Bit(s);
}

// The C library's table covers -128..255, so a char of either signedness can be passed as it
// is; anything else (EOF aside) is no character and comes back unchanged.
int ToUpper(int c) {
    return c >= -128 && c <= 255 ? std::toupper(c) : c;
}
int ToLower(int c) {
    return c >= -128 && c <= 255 ? std::tolower(c) : c;
}
wchar_t ToUpper(wchar_t c) {
    return static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
}
wchar_t ToLower(wchar_t c) {
    return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
}

bool IsStrLower(const char* s) {
    return unchangedBy<char, lowerOf>(s);
}
bool IsStrLower(const wchar_t* s) {
    return unchangedBy<wchar_t, lowerOf>(s);
}
bool IsStrUpper(const char* s) {
    return unchangedBy<char, upperOf>(s);
}
bool IsStrUpper(const wchar_t* s) {
    return unchangedBy<wchar_t, upperOf>(s);
}
