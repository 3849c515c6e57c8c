#include <climits>
#include <cstdlib>
#include <cwchar>

#include "pisnp/strings.h"
#include "text/strInternal.h"

int CharConv(char* out, wchar_t in) {
    if (out == nullptr) return -1;
    std::mbstate_t state{};
    size_t n = std::wcrtomb(out, in, &state);
    if (n == static_cast<size_t>(-1)) {
        out[0] = '\0';
        return -1;
    }
    return static_cast<int>(n);
}

int CharConv(wchar_t* out, char in) {
    if (out == nullptr) return -1;
    if (!text_detail::byteToWide(in, out)) {
        *out = L'\0';
        return -1;
    }
    return in != '\0' ? 1 : 0;
}

int CharConv(wchar_t* out, const char* in) {
    if (out == nullptr) return -1;
    std::mbstate_t state{};
    size_t n = in != nullptr ? std::mbrtowc(out, in, MB_CUR_MAX, &state) : static_cast<size_t>(-1);
    if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) {
        *out = L'\0';
        return -1;
    }
    return static_cast<int>(n);
}

int CharConv(char* out, char in) {
    if (out == nullptr) return -1;
    *out = in;
    return 1;
}

int CharConv(wchar_t* out, wchar_t in) {
    if (out == nullptr) return -1;
    *out = in;
    return 1;
}

// Code-set conversion of whole texts is done by the message system; these entry points stay
// for hosts built for platforms that had them.
int cvtFromWide(char*, const wchar_t*, size_t) {
    return -1;
}
int cvtToWide(wchar_t*, const char*, size_t) {
    return -1;
}
