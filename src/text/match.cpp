#include "pisnp/match.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <cwctype>

#include "mem/checkedAlloc.h"
#include "pisnp/strings.h"

namespace {

// One pass with a single point to come back to: when a literal after a run of anyString fails,
// the run takes one more text character and the rest is tried again. For patterns of only these
// two wildcards this finds a match exactly when trying every split would, without the
// exponential cost of trying them all.
template <typename Same>
int walk(const wchar_t* t, size_t tn, const wchar_t* p, size_t pn, unsigned char anyString,
         unsigned char anyChar, Same same) {
    auto is = [](wchar_t c, unsigned char wildcard) {
        return (static_cast<unsigned long>(c) & 0xFF) == wildcard;
    };
    if (pn == 0) return tn == 0 ? 1 : 0;
    size_t ti = 0, pi = 0;
    size_t starPi = 0, starTi = 0;
    bool haveStar = false;
    while (ti < tn) {
        if (pi < pn && is(p[pi], anyString)) {
            while (pi < pn && is(p[pi], anyString)) ++pi;
            if (pi == pn) return 1;
            haveStar = true;
            starPi = pi;
            starTi = ti;
            continue;
        }
        if (pi < pn && (is(p[pi], anyChar) || same(p[pi], t[ti]))) {
            ++pi;
            ++ti;
            continue;
        }
        if (!haveStar) return 0;
        pi = starPi;
        ti = ++starTi;
    }
    while (pi < pn && is(p[pi], anyString)) ++pi;
    return pi == pn ? 1 : 0;
}

// Converts n bytes of multibyte text, up to an embedded terminator, into out (room for n + 1);
// the count of characters or -1 when the text is not valid in the locale.
long widen(const char* s, size_t n, wchar_t* out) {
    std::mbstate_t state{};
    const char* src = s;
    // Stops at a terminator within n bytes, as the text would when copied and terminated.
    size_t count = mbsnrtowcs(out, &src, n, n, &state);
    if (count == static_cast<size_t>(-1)) return -1;
    // A character cut short at the end of the bytes is no character.
    if (src != nullptr && (src != s + n || std::mbsinit(&state) == 0)) return -1;
    out[count] = L'\0';
    return static_cast<long>(count);
}

// Characters of the first k characters of s equal those of t (both end together, or neither
// ends within k).
template <typename C, typename Step>
bool samePrefix(const C* s, const C* t, size_t k, Step step) {
    for (size_t i = 0; i < k; ++i) {
        if (*s == 0 || *t == 0) return *s == *t;
        size_t n = step(s);
        if (n != step(t) || std::memcmp(s, t, n * sizeof(C)) != 0) return false;
        s += n;
        t += n;
    }
    return true;
}

template <typename C, typename Step>
bool abbreviates(const C* abbr, const C* word, int minLen, Step step) {
    if (abbr == nullptr || word == nullptr || *abbr == 0) return false;
    size_t a = StrLenInChar(abbr);
    if (a > StrLenInChar(word)) return false;
    return samePrefix(abbr, word, std::max(a, static_cast<size_t>(std::max(minLen, 0))), step);
}

}  // namespace

int Match(const char* text, int textLen, const char* pattern, int patLen, char anyString,
          char anyChar, int ignoreCase) {
    if (text == nullptr || pattern == nullptr || textLen < 0 || patLen < 0) return 0;
    size_t tn = static_cast<size_t>(textLen), pn = static_cast<size_t>(patLen);
    // The same bytes match whatever they hold; compared within the lengths, since a caller may
    // pass a name that is not terminated where it ends.
    if (tn == pn && std::memcmp(text, pattern, tn) == 0) return 1;
    // Both wide forms in one checked block: a character never takes less than a byte.
    auto* wide = static_cast<wchar_t*>(ARC_MALLOC((tn + 1 + pn + 1) * sizeof(wchar_t)));
    if (wide == nullptr) return 0;
    wchar_t* wt = wide;
    wchar_t* wp = wide + tn + 1;
    long tc = widen(text, tn, wt);
    long pc = widen(pattern, pn, wp);
    int rc = 0;
    if (tc >= 0 && pc >= 0) {
        auto s = static_cast<unsigned char>(anyString);
        auto c = static_cast<unsigned char>(anyChar);
        size_t tl = static_cast<size_t>(tc), pl = static_cast<size_t>(pc);
        if (ignoreCase != 0)
            rc = walk(wt, tl, wp, pl, s, c,
                      [](wchar_t a, wchar_t b) { return std::towupper(a) == std::towupper(b); });
        else
            rc = walk(wt, tl, wp, pl, s, c, [](wchar_t a, wchar_t b) { return a == b; });
    }
    ARC_FREE(wide);
    return rc;
}

bool Abbrev(const char* abbr, const char* word, int minLen) {
    return abbreviates(abbr, word, minLen, [](const char* s) {
        int n = CharSize(s);
        return n > 0 ? static_cast<size_t>(n) : size_t{1};
    });
}

bool Abbrev(const wchar_t* abbr, const wchar_t* word, int minLen) {
    return abbreviates(abbr, word, minLen, [](const wchar_t*) { return size_t{1}; });
}
