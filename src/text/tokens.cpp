#include "pisnp/tokens.h"

#include <climits>
#include <cstring>
#include <cwchar>

#include "pisnp/strings.h"

namespace {

// Bytes of the multibyte character at p; an invalid or incomplete sequence counts as one byte,
// so that scanning always moves on.
size_t charLen(const char* p) {
    std::mbstate_t state{};
    size_t n = std::mbrlen(p, MB_LEN_MAX, &state);
    return n == 0 || n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2) ? 1 : n;
}

bool spaceAt(const char* p) {
    return charLen(p) == 1 && IsSpace(*p);
}

bool isQuote(int c) {
    return c == '"' || c == '\'';
}

template <typename C>
int refuse(C* out, long scanned) {
    *out = 0;
    return scanned > kMaxQuotedToken ? PISNP_RC_TOKEN_TOO_LONG : PISNP_RC_BAD_QUOTES;
}

template <typename C>
int deliver(C** pos, C* out, const C* start, const C* end, C* stop) {
    long len = end - start;
    if (len > kMaxQuotedToken) return refuse(out, len);
    std::memcpy(out, start, static_cast<size_t>(len) * sizeof(C));
    out[len] = 0;
    *pos = stop;
    return 0;
}

}  // namespace

void GetToken(char** pos, char* out, int size) {
    if (out == nullptr || size <= 0) return;
    *out = '\0';
    if (pos == nullptr || *pos == nullptr) return;
    char* p = *pos;
    while (*p != '\0' && spaceAt(p)) ++p;
    size_t used = 0;
    while (*p != '\0' && !spaceAt(p)) {
        size_t n = charLen(p);
        if (used + n > static_cast<size_t>(size) - 1) break;
        std::memcpy(out + used, p, n);
        used += n;
        p += n;
    }
    out[used] = '\0';
    *pos = p;
}

bool GetToken(wchar_t** pos, wchar_t* out, int size) {
    if (out == nullptr || size <= 0) return false;
    *out = L'\0';
    if (pos == nullptr || *pos == nullptr) return false;
    wchar_t* p = *pos;
    while (*p != L'\0' && IsSpace(*p)) ++p;
    int used = 0;
    while (*p != L'\0' && !IsSpace(*p) && used < size - 1) out[used++] = *p++;
    out[used] = L'\0';
    *pos = p;
    return *p != L'\0' && IsSpace(*p);
}

int GetQuotedToken(char** pos, char* out) {
    *out = '\0';
    if (pos == nullptr || *pos == nullptr) return 0;
    char* p = *pos;
    while (*p != '\0' && spaceAt(p)) ++p;

    if (isQuote(*p)) {
        // A closing mark counts only while the double marks seen so far pair up, so that a
        // doubled mark inside the token does not end it.
        const char q = *p;
        char* start = p + 1;
        char* s = start;
        int doubles = q == '"' ? 1 : 0;
        if (*s == '"') {
            ++doubles;
            ++s;
        }
        for (; *s != '\0'; s += charLen(s)) {
            if (charLen(s) != 1) continue;
            if (*s == '"') ++doubles;
            if (*s == q && doubles % 2 == 0 && (s[1] == '\0' || spaceAt(s + 1)))
                return deliver(pos, out, start, s, s + 1);
        }
        return refuse(out, s - start);
    }

    char* start = p;
    char* s = p;
    bool inValue = false;
    bool afterEquals = false;
    char q = '\0';
    int doubles = 0;
    for (; *s != '\0'; s += charLen(s)) {
        if (charLen(s) != 1) {
            afterEquals = false;
            continue;
        }
        char c = *s;
        if (!inValue && spaceAt(s)) return deliver(pos, out, start, s, s + 1);
        if (c == '"') ++doubles;
        if (inValue) {
            if (c == q && doubles % 2 == 0 && (s[1] == '\0' || s[1] == ' ')) inValue = false;
        } else if (isQuote(c)) {
            // A mark at the very end can neither open a value nor be meant as text.
            if (s[1] == '\0') return refuse(out, s - start);
            if (afterEquals) {
                inValue = true;
                q = c;
            }
        }
        afterEquals = c == '=';
    }
    if (inValue) return refuse(out, s - start);
    return deliver(pos, out, start, s, s);
}

int GetQuotedToken(wchar_t** pos, wchar_t* out) {
    *out = L'\0';
    if (pos == nullptr || *pos == nullptr) return 0;
    wchar_t* p = *pos;
    auto space = [](wchar_t c) { return IsSpace(c) != 0; };
    while (*p != L'\0' && space(*p)) ++p;

    if (*p == L'"' || *p == L'\'') {
        const wchar_t q = *p;
        wchar_t* start = p + 1;
        wchar_t* s = start;
        for (; *s != L'\0'; ++s) {
            if (*s != q) continue;
            if (s[1] != L'\0' && !space(s[1])) return refuse(out, s - start);
            return deliver(pos, out, start, s, s + 1);
        }
        return refuse(out, s - start);
    }

    wchar_t* start = p;
    wchar_t* s = p;
    bool inValue = false;
    wchar_t q = L'\0';
    for (; *s != L'\0'; ++s) {
        wchar_t c = *s;
        if (!inValue && space(c)) return deliver(pos, out, start, s, s + 1);
        if (inValue) {
            if (c != q) continue;
            if (s[1] != L'\0' && s[1] != L' ') return refuse(out, s - start);
            inValue = false;
        } else if (c == L'"' || c == L'\'') {
            if (s[1] == L'\0') return refuse(out, s - start);
            if (s > start && s[-1] == L'=') {
                inValue = true;
                q = c;
            }
        }
    }
    if (inValue) return refuse(out, s - start);
    return deliver(pos, out, start, s, s);
}
