#include "text/bufferConversion.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace dbuf {

namespace {

// One character at s: its bytes (at least 1) and its wide value, '?' for an invalid byte.
size_t decode(const char* s, wchar_t* wc) {
    std::mbstate_t state{};
    size_t n = std::mbrtowc(wc, s, MB_CUR_MAX, &state);
    if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2) || n == 0) {
        *wc = n == 0 ? L'\0' : L'?';
        return 1;
    }
    return n;
}

// The multibyte form of one wide character into out (MB_LEN_MAX bytes); '?' when it has none.
size_t encode(wchar_t wc, char* out) {
    std::mbstate_t state{};
    size_t n = std::wcrtomb(out, wc, &state);
    if (n == static_cast<size_t>(-1)) {
        out[0] = '?';
        return 1;
    }
    return n;
}

}  // namespace

size_t charCount(const char* s) {
    size_t count = 0;
    wchar_t wc;
    while (*s != '\0') {
        s += decode(s, &wc);
        ++count;
    }
    return count;
}

size_t multibyteLength(const wchar_t* s, size_t maxChars) {
    char scratch[MB_LEN_MAX];
    size_t bytes = 0;
    for (size_t i = 0; i < maxChars && s[i] != L'\0'; ++i) bytes += encode(s[i], scratch);
    return bytes;
}

size_t toMultibyte(char* out, size_t maxBytes, const wchar_t* s, size_t maxChars) {
    char one[MB_LEN_MAX];
    size_t used = 0;
    for (size_t i = 0; i < maxChars && s[i] != L'\0'; ++i) {
        size_t n = encode(s[i], one);
        if (used + n > maxBytes) break;
        std::memcpy(out + used, one, n);
        used += n;
    }
    out[used] = '\0';
    return used;
}

size_t toWide(wchar_t* out, size_t maxChars, const char* s) {
    size_t count = 0;
    while (count < maxChars && *s != '\0') s += decode(s, &out[count++]);
    out[count] = L'\0';
    return count;
}

}  // namespace dbuf
