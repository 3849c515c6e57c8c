#include <algorithm>
#include <cstring>
#include <cwchar>

#include "pisnp/resultCodes.h"
#include "pisnp/strings.h"
#include "text/strInternal.h"

using namespace text_detail;

namespace {

template <typename C>
bool emptyOrNull(const C* s) {
    return s == nullptr || *s == 0;
}

template <typename C>
C* findFolded(const C* h, const C* n) {
    if (emptyOrNull(h) || emptyOrNull(n)) return nullptr;
    for (const C* start = h; *start != 0; ++start) {
        const C* a = start;
        const C* b = n;
        while (*a != 0 && *b != 0 && lowerOf(*a) == lowerOf(*b)) {
            ++a;
            ++b;
        }
        if (*b == 0) return const_cast<C*>(start);
        if (*a == 0) break;  // the rest of h is shorter than n
    }
    return nullptr;
}

// The byte position in s of the character found at `hit` in s's wide conversion `wide`.
char* mapBack(const char* s, const wchar_t* wide, const wchar_t* hit) {
    if (hit == nullptr) return nullptr;
    return const_cast<char*>(advanceChars(s, static_cast<size_t>(hit - wide)));
}

// The search character of the `char` forms: one byte that is a character of its own.
bool searchChar(int c, wchar_t* wc) {
    return byteToWide(static_cast<char>(c), wc);
}

// The byte search stands in for the character search when the locale lets a byte be a character
// of its own: for c, and for the part of s that the conversion would cover. That part's length,
// or -1 when the conversion must be done.
ssize_t plainLength(const LocaleFacts& facts, const char* s) {
    if (facts.kind == LocaleFacts::kOther) return -1;
    size_t n = strnlen(s, kStrMaxConvChars);
    return plainText(facts, s, n) ? static_cast<ssize_t>(n) : -1;
}

// A whole set of search characters that the byte functions can take as it is.
bool plainSet(const LocaleFacts& facts, const char* set) {
    if (facts.kind == LocaleFacts::kOther) return false;
    size_t n = strnlen(set, kStrMaxConvChars);
    return set[n] == '\0' && plainText(facts, set, n);
}

// Where missing bytes mean missing characters, converted or not, so that a fruitless search
// needs no look at the rest of the text.
bool byteMissMeansNone(const LocaleFacts& facts) {
    return facts.kind == LocaleFacts::kUtf8 || facts.validBytesDistinct;
}

// Process-wide positions of the one-text StrTok forms.
char* gTokenNext = nullptr;
wchar_t* gTokenNextWide = nullptr;

}  // namespace

char* StrStr(const char* h, const char* n) {
    if (emptyOrNull(h) || emptyOrNull(n)) return nullptr;
    return const_cast<char*>(std::strstr(h, n));
}

wchar_t* StrStr(const wchar_t* h, const wchar_t* n) {
    if (emptyOrNull(h) || emptyOrNull(n)) return nullptr;
    return const_cast<wchar_t*>(std::wcsstr(h, n));
}

char* StrStri(const char* h, const char* n) {
    return findFolded(h, n);
}
wchar_t* StrStri(const wchar_t* h, const wchar_t* n) {
    return findFolded(h, n);
}

// The `char` searches run on the wide conversion so that a byte that happens to occur inside a
// multibyte character is never taken for the character searched for.
char* StrChr(const char* s, int c) {
    wchar_t wc;
    WideBuf wide;
    if (s == nullptr || !searchChar(c, &wc)) return nullptr;
    // The terminator is found even in a text longer than the conversion limit.
    if (wc == L'\0') return const_cast<char*>(s + len(s));
    const LocaleFacts& facts = localeFacts();
    if (plainByte(facts, c)) {
        if (byteMissMeansNone(facts) && std::strchr(s, c) == nullptr) return nullptr;
        ssize_t plain = plainLength(facts, s);
        if (plain >= 0) {
            return static_cast<char*>(
                const_cast<void*>(std::memchr(s, c, static_cast<size_t>(plain))));
        }
    }
    if (toWide(s, wide) < 0) return nullptr;
    return mapBack(s, wide, std::wcschr(wide, wc));
}

wchar_t* StrChr(const wchar_t* s, wchar_t c) {
    if (s == nullptr) return nullptr;
    return const_cast<wchar_t*>(std::wcschr(s, c));
}

char* StrrChr(const char* s, int c, int* rc) {
    if (rc != nullptr) *rc = 0;
    wchar_t wc;
    if (s == nullptr || !searchChar(c, &wc)) return nullptr;
    if (wc == L'\0') return const_cast<char*>(s + len(s));
    const LocaleFacts& facts = localeFacts();
    ssize_t plain = plainByte(facts, c) ? plainLength(facts, s) : -1;
    if (plain >= 0) {
        return static_cast<char*>(const_cast<void*>(memrchr(s, c, static_cast<size_t>(plain))));
    }
    WideBuf wide;
    if (toWide(s, wide) < 0) {
        if (rc != nullptr) *rc = PISNP_RC_NOT_CONVERTIBLE;
        return nullptr;
    }
    return mapBack(s, wide, std::wcsrchr(wide, wc));
}

wchar_t* StrrChr(const wchar_t* s, wchar_t c, int* rc) {
    if (rc != nullptr) *rc = 0;
    if (s == nullptr) return nullptr;
    return const_cast<wchar_t*>(std::wcsrchr(s, c));
}

char* StrrChr(const char* s, int c) {
    return StrrChr(s, c, nullptr);
}
wchar_t* StrrChr(const wchar_t* s, wchar_t c) {
    return StrrChr(s, c, nullptr);
}

char* StriChr(const char* s, int c) {
    const char set[] = {static_cast<char>(ToLower(c)), static_cast<char>(ToUpper(c)), '\0'};
    return StrpBrk(s, set);
}

wchar_t* StriChr(const wchar_t* s, wchar_t c) {
    const wchar_t set[] = {ToLower(c), ToUpper(c), L'\0'};
    return StrpBrk(s, set);
}

char* StrpBrk(const char* s, const char* set) {
    if (emptyOrNull(s) || emptyOrNull(set)) return nullptr;
    const LocaleFacts& facts = localeFacts();
    if (plainSet(facts, set)) {
        if (byteMissMeansNone(facts) && std::strpbrk(s, set) == nullptr) return nullptr;
        ssize_t plain = plainLength(facts, s);
        if (plain >= 0) {
            size_t at = std::strcspn(s, set);
            return at < static_cast<size_t>(plain) ? const_cast<char*>(s + at) : nullptr;
        }
    }
    WideBuf wide;
    WideBuf wideSet;
    if (toWide(s, wide) < 0 || toWide(set, wideSet) < 0) return nullptr;
    return mapBack(s, wide, std::wcspbrk(wide, wideSet));
}

wchar_t* StrpBrk(const wchar_t* s, const wchar_t* set) {
    if (emptyOrNull(s) || emptyOrNull(set)) return nullptr;
    return const_cast<wchar_t*>(std::wcspbrk(s, set));
}

namespace {

template <size_t (*span)(const wchar_t*, const wchar_t*),
          size_t (*byteSpan)(const char*, const char*)>
size_t spanBytes(const char* s, const char* set) {
    if (emptyOrNull(s) || emptyOrNull(set)) return 0;
    const LocaleFacts& facts = localeFacts();
    ssize_t plain = plainSet(facts, set) ? plainLength(facts, s) : -1;
    if (plain >= 0) return std::min(byteSpan(s, set), static_cast<size_t>(plain));
    WideBuf wide;
    WideBuf wideSet;
    if (toWide(s, wide) < 0 || toWide(set, wideSet) < 0) return 0;
    return static_cast<size_t>(advanceChars(s, span(wide, wideSet)) - s);
}

template <size_t (*span)(const wchar_t*, const wchar_t*)>
size_t spanChars(const wchar_t* s, const wchar_t* set) {
    if (emptyOrNull(s) || emptyOrNull(set)) return 0;
    return span(s, set);
}

}  // namespace

size_t StrSpn(const char* s, const char* set) {
    return spanBytes<std::wcsspn, std::strspn>(s, set);
}
size_t StrSpn(const wchar_t* s, const wchar_t* set) {
    return spanChars<std::wcsspn>(s, set);
}
size_t StrcSpn(const char* s, const char* set) {
    return spanBytes<std::wcscspn, std::strcspn>(s, set);
}
size_t StrcSpn(const wchar_t* s, const wchar_t* set) {
    return spanChars<std::wcscspn>(s, set);
}

// The remaining text is converted afresh on every call from the saved byte position, so the
// state is a single pointer into the caller's text. Delimiters and tokens that run past the
// working-buffer limit are followed across it, so long texts still split where they should.
char* StrTok(char* s, const char* delim) {
    if (emptyOrNull(delim)) return nullptr;
    char* text = s != nullptr ? s : gTokenNext;
    gTokenNext = nullptr;
    const LocaleFacts& facts = localeFacts();
    if (!emptyOrNull(text) && plainSet(facts, delim) && plainText(facts, text, len(text))) {
        // Every piece of the text converts, character for byte: the bytes split the same way.
        text += std::strspn(text, delim);
        if (*text == '\0') return nullptr;
        char* end = text + std::strcspn(text, delim);
        if (*end != '\0') {
            gTokenNext = end + 1;
            *end = '\0';
        }
        return text;
    }
    WideBuf wide;
    WideBuf wideDelim;
    if (toWide(delim, wideDelim) < 0) return nullptr;

    for (;;) {
        if (emptyOrNull(text) || toWide(text, wide) < 0) return nullptr;
        size_t skip = std::wcsspn(wide, wideDelim);
        text = const_cast<char*>(advanceChars(text, skip));
        if (wide[skip] != L'\0') break;
    }
    char* end = text;
    for (;;) {
        if (toWide(end, wide) < 0) return nullptr;
        size_t length = std::wcscspn(wide, wideDelim);
        end = const_cast<char*>(advanceChars(end, length));
        if (wide[length] != L'\0') {
            // End the token on the delimiter's first byte and resume after all of its bytes.
            int bytes = charBytes(end);
            gTokenNext = end + (bytes > 0 ? bytes : 1);
            *end = '\0';
            return text;
        }
        if (*end == '\0') return text;
    }
}

wchar_t* StrTok(wchar_t* s, const wchar_t* delim) {
    if (emptyOrNull(delim)) return nullptr;
    if (s == nullptr && gTokenNextWide == nullptr) return nullptr;
    return std::wcstok(s, delim, &gTokenNextWide);
}

char* StrTok(char* s, const char* delim, char** save) {
    if (emptyOrNull(delim) || save == nullptr) return nullptr;
    if (s == nullptr && *save == nullptr) return nullptr;
    return strtok_r(s, delim, save);
}

wchar_t* StrTok(wchar_t* s, const wchar_t* delim, wchar_t** save) {
    if (emptyOrNull(delim) || save == nullptr) return nullptr;
    if (s == nullptr && *save == nullptr) return nullptr;
    return std::wcstok(s, delim, save);
}
