#include <algorithm>
#include <cstring>
#include <cwchar>
#include <iterator>

#include "pisnp/strings.h"
#include "text/strInternal.h"

using namespace text_detail;

namespace {

// What a wide destination receives when its multibyte source is not valid text.
constexpr wchar_t kConversionError[] = L"Conversion error - invalid source!";

// Every same-kind copy moves: callers shift text within one buffer (both ways) with these.
template <typename C>
C* copyText(C* d, const C* s) {
    if (d == nullptr || s == nullptr) return nullptr;
    std::memmove(d, s, (len(s) + 1) * sizeof(C));
    return d;
}

template <typename C>
C* copyPadded(C* d, const C* s, size_t n) {
    if (d == nullptr || s == nullptr) return nullptr;
    size_t used = nlen(s, n);
    std::memmove(d, s, used * sizeof(C));
    for (size_t i = used; i < n; ++i) d[i] = 0;
    return d;
}

// Appends at most n elements of s; measuring s first makes StrCat(d, d) double the text.
template <typename C>
C* appendText(C* d, const C* s, size_t n) {
    if (d == nullptr) return nullptr;
    if (s == nullptr) return d;
    size_t end = len(d);
    size_t add = nlen(s, n);
    std::memmove(d + end, s, add * sizeof(C));
    d[end + add] = 0;
    return d;
}

constexpr size_t kAll = static_cast<size_t>(-1);

}  // namespace

char* StrCpy(char* d, const char* s) {
    return copyText(d, s);
}
wchar_t* StrCpy(wchar_t* d, const wchar_t* s) {
    return copyText(d, s);
}

wchar_t* StrCpy(wchar_t* d, const char* s) {
    if (d == nullptr || s == nullptr) return nullptr;
    std::mbstate_t state{};
    const char* src = s;
    size_t n = std::mbsrtowcs(d, &src, kStrMaxConvChars, &state);
    if (n == static_cast<size_t>(-1)) {
        // The destination was sized for the source, so the message must not outgrow it.
        size_t room = std::min(len(s), std::size(kConversionError) - 1);
        std::wmemcpy(d, kConversionError, room);
        d[room] = L'\0';
    } else if (n == kStrMaxConvChars) {
        d[n] = L'\0';
    }
    return d;
}

char* StrCpy(char* d, const wchar_t* s) {
    if (d == nullptr || s == nullptr) return nullptr;
    std::mbstate_t state{};
    const wchar_t* src = s;
    size_t n = std::wcsrtombs(d, &src, kStrMaxConvChars, &state);
    // A cut text is terminated where the cut fell, like the wide form; a failed one is emptied
    // rather than left half written.
    d[n == static_cast<size_t>(-1) ? 0 : n] = '\0';
    return d;
}

char* StrnCpy(char* d, const char* s, size_t n) {
    return copyPadded(d, s, n);
}
wchar_t* StrnCpy(wchar_t* d, const wchar_t* s, size_t n) {
    return copyPadded(d, s, n);
}

wchar_t* StrnCpy(wchar_t* d, const char* s, size_t n) {
    if (d == nullptr || s == nullptr) return nullptr;
    WideBuf wide;
    StrCpy(wide, s);
    return std::wcsncpy(d, wide, n);
}

char* StrnCpy(char* d, const wchar_t* s, size_t n) {
    if (d == nullptr || s == nullptr) return nullptr;
    std::mbstate_t state{};
    const wchar_t* src = s;
    size_t done = std::wcsrtombs(d, &src, n, &state);
    if (done == static_cast<size_t>(-1) && n > 0) d[0] = '\0';
    return d;
}

char* StrCat(char* d, const char* s) {
    return appendText(d, s, kAll);
}
wchar_t* StrCat(wchar_t* d, const wchar_t* s) {
    return appendText(d, s, kAll);
}
char* StrnCat(char* d, const char* s, size_t n) {
    return appendText(d, s, n);
}
wchar_t* StrnCat(wchar_t* d, const wchar_t* s, size_t n) {
    return appendText(d, s, n);
}

wchar_t* StrnCat(wchar_t* d, const char* s, size_t n) {
    if (d == nullptr) return nullptr;
    if (s == nullptr) return d;
    WideBuf wide;
    if (toWide(s, wide) < 0) return d;
    return appendText(d, static_cast<const wchar_t*>(wide), n);
}

char* StrnCat(char* d, const wchar_t* s, size_t n) {
    if (d == nullptr) return nullptr;
    if (s == nullptr) return d;
    MbBuf narrow;
    if (toMultibyte(s, narrow) < 0) return d;
    return appendText(d, static_cast<const char*>(narrow), n);
}

wchar_t* StrCat(wchar_t* d, const char* s) {
    return StrnCat(d, s, kAll);
}
char* StrCat(char* d, const wchar_t* s) {
    return StrnCat(d, s, kAll);
}

char* MemMove(char* d, const char* s, size_t n) {
    if (d == nullptr || s == nullptr) return d;
    return static_cast<char*>(std::memmove(d, s, n));
}

wchar_t* MemMove(wchar_t* d, const wchar_t* s, size_t n) {
    if (d == nullptr || s == nullptr) return d;
    return std::wmemmove(d, s, n);
}
