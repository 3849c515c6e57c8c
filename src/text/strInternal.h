// Building blocks shared by the string function family; not exported.
//
// The `char` and `wchar_t` forms that behave alike are written once here as templates; the
// exported functions are thin overloads over them. Conversions use the restartable C library
// calls with a local state, so that no function shares hidden state with another thread.
#pragma once

#include <sys/types.h>

#include <cctype>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>

#include "pisnp/strings.h"
#include "text/localeFacts.h"

namespace text_detail {

// Working buffers: wide text up to the limit plus terminator, and its multibyte form at four
// bytes a character.
inline constexpr size_t kWideBufLen = kStrMaxConvChars + 1;
inline constexpr size_t kMbBufLen = 4 * kStrMaxConvChars;

using WideBuf = wchar_t[kWideBufLen];
using MbBuf = char[kMbBufLen];

inline size_t len(const char* s) {
    return std::strlen(s);
}
inline size_t len(const wchar_t* s) {
    return std::wcslen(s);
}
inline size_t nlen(const char* s, size_t n) {
    return strnlen(s, n);
}
inline size_t nlen(const wchar_t* s, size_t n) {
    return wcsnlen(s, n);
}

// Multibyte text to wide, cut at the limit; the count of characters, or -1 when s is not valid
// text of the locale.
inline ssize_t toWide(const char* s, WideBuf& out) {
    std::mbstate_t state{};
    const char* src = s;
    size_t n = std::mbsrtowcs(out, &src, kStrMaxConvChars, &state);
    if (n == static_cast<size_t>(-1)) return -1;
    out[n] = L'\0';
    return static_cast<ssize_t>(n);
}

// Wide text to multibyte, cut at the character limit (or earlier when the bytes run out); the
// byte count, or -1 when a character has no multibyte form.
inline ssize_t toMultibyte(const wchar_t* s, MbBuf& out) {
    std::mbstate_t state{};
    const wchar_t* src = s;
    // Counted first so that the converter is never told the text is longer than it is.
    size_t chars = wcsnlen(s, kStrMaxConvChars);
    size_t n = wcsnrtombs(out, &src, chars, kMbBufLen - 1, &state);
    if (n == static_cast<size_t>(-1)) return -1;
    out[n] = '\0';
    return static_cast<ssize_t>(n);
}

// Bytes of the character at s: 0 at the terminator, -1 when s does not start a valid character.
inline int charBytes(const char* s) {
    std::mbstate_t state{};
    size_t n = std::mbrlen(s, MB_CUR_MAX, &state);
    if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) return -1;
    return static_cast<int>(n);
}

// charBytes, answered without the converter for an ASCII byte where that is a character of its
// own (LocaleFacts::asciiIsChar).
inline int charBytes(const char* s, bool asciiIsChar) {
    auto b = static_cast<unsigned char>(*s);
    if (asciiIsChar && b < 0x80) return b != 0 ? 1 : 0;
    return charBytes(s);
}

// Steps over k characters; an invalid byte counts as one.
inline const char* advanceChars(const char* s, size_t k) {
    bool asciiIsChar = localeFacts().asciiIsChar();
    for (; k > 0 && *s != '\0'; --k) {
        int n = charBytes(s, asciiIsChar);
        s += n > 0 ? n : 1;
    }
    return s;
}

// A single byte as a character of the locale; false when it is not one on its own.
inline bool byteToWide(char byte, wchar_t* out) {
    std::mbstate_t state{};
    wchar_t wc = 0;
    size_t n = std::mbrtowc(&wc, &byte, 1, &state);
    if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) return false;
    *out = wc;
    return true;
}

// Case folding of one element: the byte through the locale's table, the wide character through
// the wide functions.
inline int upperOf(char c) {
    return std::toupper(static_cast<unsigned char>(c));
}
inline int lowerOf(char c) {
    return std::tolower(static_cast<unsigned char>(c));
}
inline int upperOf(wchar_t c) {
    return static_cast<int>(std::towupper(static_cast<wint_t>(c)));
}
inline int lowerOf(wchar_t c) {
    return static_cast<int>(std::towlower(static_cast<wint_t>(c)));
}

// Null ordering shared by the comparisons: null sorts first, two nulls are equal. Gives true
// and sets result when a null decided it.
template <typename A, typename B>
bool nullOrder(const A* a, const B* b, int* result) {
    if (b == nullptr) {
        *result = a != nullptr ? 1 : 0;
        return true;
    }
    if (a == nullptr) {
        *result = -1;
        return true;
    }
    return false;
}

// Case-blind comparison over at most n elements (0: all).
template <typename C>
int foldCompare(const C* a, const C* b, size_t n) {
    int result;
    if (nullOrder(a, b, &result)) return result;
    for (size_t i = 0; n == 0 || i < n; ++i) {
        if (a[i] == 0) return b[i] == 0 ? 0 : -1;
        if (b[i] == 0) return 1;
        int ua = upperOf(a[i]);
        int ub = upperOf(b[i]);
        if (ua != ub) return ua - ub;
    }
    return 0;
}

}  // namespace text_detail
