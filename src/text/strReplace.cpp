#include <cstdio>
#include <cstring>
#include <cwchar>

#include "mem/checkedAlloc.h"
#include "pisnp/strings.h"
#include "text/strInternal.h"

using namespace text_detail;

// Texts from kReplaceCharLimit on are not edited but cut there: the buffers these texts live
// in hold no more, so a longer one has already gone wrong upstream.
char* ReplaceChar(char* s, char from, char to) {
    if (s == nullptr) return nullptr;
    if (len(s) >= kReplaceCharLimit) {
        s[kReplaceCharLimit] = '\0';
        return s;
    }
    wchar_t wideFrom;
    WideBuf wide;
    if (from == '\0' || !byteToWide(from, &wideFrom)) return s;
    const LocaleFacts& facts = localeFacts();
    if (plainByte(facts, from) && plainText(facts, s, len(s))) {
        // Each byte is a character: the byte is the character to replace.
        for (char* at = std::strchr(s, from); at != nullptr; at = std::strchr(at + 1, from)) {
            *at = to;
        }
        return s;
    }
    if (toWide(s, wide) < 0) return s;
    // The text is converted once; each hit is mapped back by stepping from the previous one.
    // `from` is a one-byte character, so every hit is exactly one byte to overwrite, and the
    // stepping never reads a byte already replaced.
    char* at = s;
    const wchar_t* stepped = wide;
    for (const wchar_t* hit = std::wcschr(wide, wideFrom); hit != nullptr;
         hit = std::wcschr(hit + 1, wideFrom)) {
        at = const_cast<char*>(advanceChars(at, static_cast<size_t>(hit - stepped)));
        *at++ = to;
        stepped = hit + 1;
    }
    return s;
}

wchar_t* ReplaceChar(wchar_t* s, wchar_t from, wchar_t to) {
    if (s == nullptr) return nullptr;
    if (len(s) >= kReplaceCharLimit) {
        s[kReplaceCharLimit] = L'\0';
        return s;
    }
    if (from == L'\0') return s;
    for (wchar_t* hit = std::wcschr(s, from); hit != nullptr; hit = std::wcschr(hit + 1, from)) {
        *hit = to;
    }
    return s;
}

char* hex2String(char* out, const unsigned char* bytes, size_t n) {
    if (out == nullptr || bytes == nullptr) return nullptr;
    if (n == 0) return out;
    for (size_t i = 0; i < n; ++i) std::snprintf(out + 2 * i, 3, "%02X", bytes[i]);
    return out;
}

wchar_t* hex2String(wchar_t* out, const unsigned char* bytes, size_t n) {
    if (out == nullptr || bytes == nullptr) return nullptr;
    if (n == 0) return out;
    auto* digits = static_cast<char*>(ARC_MALLOC(2 * n + 1));
    if (digits == nullptr) {
        out[0] = L'\0';
        return nullptr;
    }
    hex2String(digits, bytes, n);
    std::mbstate_t state{};
    const char* src = digits;
    std::mbsrtowcs(out, &src, 2 * n + 1, &state);
    ARC_FREE(digits);
    return out;
}
