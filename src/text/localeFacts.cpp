#include "text/localeFacts.h"

#include <langinfo.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>

namespace text_detail {

namespace {

int asciiUpper(int c) {
    return c >= 'a' && c <= 'z' ? c - 0x20 : c;
}
int asciiLower(int c) {
    return c >= 'A' && c <= 'Z' ? c + 0x20 : c;
}

LocaleFacts workOut() {
    LocaleFacts f{};
    if (MB_CUR_MAX == 1) {
        f.kind = LocaleFacts::kSingleByte;
    } else if (std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0) {
        f.kind = LocaleFacts::kUtf8;
    } else {
        f.kind = LocaleFacts::kOther;
    }
    if (f.kind == LocaleFacts::kSingleByte) {
        wint_t chars[255];
        size_t valid = 0;
        for (int b = 1; b < 256; ++b) {
            wint_t wc = std::btowc(b);
            if (wc != WEOF && wc != 0) chars[valid++] = wc;
        }
        std::sort(chars, chars + valid);
        f.validBytesDistinct = std::adjacent_find(chars, chars + valid) == chars + valid;
        f.bytesAreChars = f.validBytesDistinct && valid == 255;
    }
    f.asciiFoldsPlainly = true;
    for (int c = 0; c < 0x80 && f.asciiFoldsPlainly; ++c) {
        f.asciiFoldsPlainly =
            std::towupper(static_cast<wint_t>(c)) == static_cast<wint_t>(asciiUpper(c)) &&
            std::towlower(static_cast<wint_t>(c)) == static_cast<wint_t>(asciiLower(c)) &&
            std::toupper(c) == asciiUpper(c) && std::tolower(c) == asciiLower(c);
    }
    f.highBytesUnfolded = true;
    for (int b = 0x80; b < 0x100 && f.highBytesUnfolded; ++b) {
        f.highBytesUnfolded = std::toupper(b) == b && std::tolower(b) == b;
    }
    return f;
}

}  // namespace

// The C library keeps each locale's data where it loaded it for as long as the process may use
// it, so the address of the character set's name tells one LC_CTYPE from another; elsewhere the
// facts are worked out on every call.
thread_local bool testing::characterPathOnly = false;

const LocaleFacts& localeFacts() {
    static const LocaleFacts none{LocaleFacts::kOther, false, false, false, false};
    if (testing::characterPathOnly) return none;
#ifdef __GLIBC__
    thread_local const char* key = nullptr;
    thread_local LocaleFacts facts;
    const char* now = nl_langinfo(CODESET);
    if (now != key) {
        facts = workOut();
        key = now;
    }
    return facts;
#else
    thread_local LocaleFacts facts;
    facts = workOut();
    return facts;
#endif
}

bool isAscii(const char* s, size_t n) {
    // Sixteen bytes at a time in four independent lanes; the compiler maps the vectors onto
    // whatever the machine has.
    using Block = uint8_t __attribute__((vector_size(16)));
    Block acc[4] = {};
    size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        for (int lane = 0; lane < 4; ++lane) {
            Block b;
            std::memcpy(&b, s + i + 16 * lane, sizeof b);
            acc[lane] |= b;
        }
    }
    Block all = acc[0] | acc[1] | acc[2] | acc[3];
    uint64_t words[2];
    std::memcpy(words, &all, sizeof words);
    uint64_t high = words[0] | words[1];
    for (; i + 8 <= n; i += 8) {
        std::memcpy(words, s + i, 8);
        high |= words[0];
    }
    for (; i < n; ++i) high |= static_cast<uint8_t>(s[i]);
    return (high & 0x8080808080808080u) == 0;
}

}  // namespace text_detail
