#include <strings.h>

#include <cstring>
#include <cwchar>

#include "pisnp/strings.h"
#include "text/strInternal.h"

using namespace text_detail;

namespace {

constexpr size_t kWhole = static_cast<size_t>(-1);

int compare(const char* a, const char* b, size_t n) {
    return n == kWhole ? std::strcmp(a, b) : std::strncmp(a, b, n);
}

int compare(const wchar_t* a, const wchar_t* b, size_t n) {
    return n == kWhole ? std::wcscmp(a, b) : std::wcsncmp(a, b, n);
}

template <typename C>
int sameKind(const C* a, const C* b, size_t n) {
    int result;
    if (nullOrder(a, b, &result)) return result;
    return compare(a, b, n);
}

// A text that cannot be converted to the other kind cannot equal anything there; it is put
// after every text that can, so that sorting stays consistent.
int wideFirst(const wchar_t* a, const char* b, size_t n) {
    int result;
    if (nullOrder(a, b, &result)) return result;
    WideBuf wide;
    if (toWide(b, wide) < 0) return -1;
    return compare(a, wide, n);
}

int narrowFirst(const char* a, const wchar_t* b, size_t n) {
    int result;
    if (nullOrder(a, b, &result)) return result;
    MbBuf narrow;
    if (toMultibyte(b, narrow) < 0) return -1;
    return compare(a, narrow, n);
}

// ASCII texts in a locale that folds ASCII plainly: every byte is a character and folds as in
// ASCII, so the comparison runs on the bytes, cut at the conversion limit as the wide copies
// would be. False when either text is not ASCII.
bool foldAscii(const char* a, const char* b, size_t n, int* result) {
    size_t la = strnlen(a, kStrMaxConvChars);
    size_t lb = strnlen(b, kStrMaxConvChars);
    if (!isAscii(a, la) || !isAscii(b, lb)) return false;
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? c - 0x20 : static_cast<int>(c); };
    *result = 0;
    for (size_t i = 0; n == 0 || i < n; ++i) {
        if (i == la || i == lb) {
            *result = i == la ? (i == lb ? 0 : -1) : 1;
            break;
        }
        int ua = upper(a[i]);
        int ub = upper(b[i]);
        if (ua != ub) {
            *result = ua - ub;
            break;
        }
    }
    return true;
}

// Case-blind comparison works on characters, so that letters outside ASCII fold too. Text that
// is not valid in the locale is still ordered, byte by byte through the 8-bit table.
int foldMultibyte(const char* a, const char* b, size_t n) {
    int result;
    if (nullOrder(a, b, &result)) return result;
    const LocaleFacts& facts = localeFacts();
    if (facts.asciiIsChar() && facts.asciiFoldsPlainly && facts.highBytesUnfolded) {
        // Here texts that the C library finds equal differ at most in the case of ASCII letters,
        // which are characters of their own: equal character by character too, whether or not
        // they convert. Counted, that holds when the counted bytes are characters each.
        int quick = n == 0 ? strcasecmp(a, b) : strncasecmp(a, b, n);
        if (quick == 0 && (n == 0 || isAscii(a, strnlen(a, n)))) return 0;
        if (foldAscii(a, b, n, &result)) return result;
    }
    WideBuf wa;
    WideBuf wb;
    if (toWide(a, wa) < 0 || toWide(b, wb) < 0) return foldCompare(a, b, n);
    return foldCompare<wchar_t>(wa, wb, n);
}

}  // namespace

int StrCmp(const char* a, const char* b) {
    return sameKind(a, b, kWhole);
}
int StrCmp(const wchar_t* a, const wchar_t* b) {
    return sameKind(a, b, kWhole);
}
int StrCmp(const wchar_t* a, const char* b) {
    return wideFirst(a, b, kWhole);
}
int StrCmp(const char* a, const wchar_t* b) {
    return narrowFirst(a, b, kWhole);
}

int StrnCmp(const char* a, const char* b, size_t n) {
    return sameKind(a, b, n);
}
int StrnCmp(const wchar_t* a, const wchar_t* b, size_t n) {
    return sameKind(a, b, n);
}
int StrnCmp(const wchar_t* a, const char* b, size_t n) {
    return wideFirst(a, b, n);
}
int StrnCmp(const char* a, const wchar_t* b, size_t n) {
    return narrowFirst(a, b, n);
}

int StriCmp(const char* a, const char* b) {
    return foldMultibyte(a, b, 0);
}
int StriCmp(const wchar_t* a, const wchar_t* b) {
    return foldCompare(a, b, 0);
}
int StrniCmp(const char* a, const char* b, size_t n) {
    return foldMultibyte(a, b, n);
}
int StrniCmp(const wchar_t* a, const wchar_t* b, size_t n) {
    return foldCompare(a, b, n);
}

int StrColl(const char* a, const char* b) {
    int result;
    if (nullOrder(a, b, &result)) return result;
    return std::strcoll(a, b);
}

int StrColl(const wchar_t* a, const wchar_t* b) {
    int result;
    if (nullOrder(a, b, &result)) return result;
    return std::wcscoll(a, b);
}
