#include <cstring>
#include <cwchar>

#include "mem/checkedAlloc.h"
#include "pisnp/strings.h"
#include "text/strInternal.h"

using namespace text_detail;

namespace {

// A new block with a followed by b. a is released only once the result exists, so that a
// caller who runs out of memory still has its text.
template <typename C>
C* joinInto(C* a, const C* b) {
    size_t la = len(a);
    size_t lb = len(b);
    auto* joined = static_cast<C*>(ARC_MALLOC((la + lb + 1) * sizeof(C)));
    if (joined == nullptr) return nullptr;
    std::memcpy(joined, a, la * sizeof(C));
    std::memcpy(joined + la, b, (lb + 1) * sizeof(C));
    ARC_FREE(a);
    return joined;
}

template <typename C>
C* sameKindApp(C* a, const C* b) {
    if (a == nullptr || b == nullptr) return nullptr;
    return joinInto(a, b);
}

// The mixed forms consume a whatever happens: callers chain them without checking in between.
template <typename C>
C* consumeOnFailure(C* a, C* joined) {
    if (joined == nullptr) ARC_FREE(a);
    return joined;
}

template <typename C>
C* duplicate(const C* s) {
    if (s == nullptr) return nullptr;
    size_t bytes = (len(s) + 1) * sizeof(C);
    auto* copy = static_cast<C*>(ARC_MALLOC(bytes));
    if (copy != nullptr) std::memcpy(copy, s, bytes);
    return copy;
}

}  // namespace

char* StrApp(char* a, const char* b) {
    return sameKindApp(a, b);
}
wchar_t* StrApp(wchar_t* a, const wchar_t* b) {
    return sameKindApp(a, b);
}

wchar_t* StrApp(wchar_t* a, const char* b) {
    if (a == nullptr) return nullptr;
    WideBuf wide;
    if (b == nullptr || toWide(b, wide) < 0) return consumeOnFailure<wchar_t>(a, nullptr);
    return consumeOnFailure(a, joinInto(a, static_cast<const wchar_t*>(wide)));
}

char* StrApp(char* a, const wchar_t* b) {
    if (a == nullptr) return nullptr;
    MbBuf narrow;
    if (b == nullptr || toMultibyte(b, narrow) < 0) return consumeOnFailure<char>(a, nullptr);
    return consumeOnFailure(a, joinInto(a, static_cast<const char*>(narrow)));
}

char* StrDup(const char* s) {
    return duplicate(s);
}
wchar_t* StrDup(const wchar_t* s) {
    return duplicate(s);
}
char* StrDup(char*, const char* s) {
    return duplicate(s);
}
wchar_t* StrDup(wchar_t*, const wchar_t* s) {
    return duplicate(s);
}

// A multibyte text never has more characters than bytes, so bytes + 1 wide elements always hold
// the conversion; no length limit applies because the block is sized for the whole text.
wchar_t* StrDup(wchar_t*, const char* s) {
    if (s == nullptr) return nullptr;
    size_t count = len(s) + 1;
    auto* wide = static_cast<wchar_t*>(ARC_CALLOC(count, sizeof(wchar_t)));
    if (wide == nullptr) return nullptr;
    std::mbstate_t state{};
    const char* src = s;
    if (std::mbsrtowcs(wide, &src, count, &state) == static_cast<size_t>(-1)) {
        ARC_FREE(wide);
        return nullptr;
    }
    return wide;
}

// Four bytes a character is enough for every character of the locales in use; a character that
// would need more ends the text early instead of overrunning the block.
char* StrDup(char*, const wchar_t* s) {
    if (s == nullptr) return nullptr;
    size_t bytes = 4 * (len(s) + 1);
    auto* narrow = static_cast<char*>(ARC_MALLOC(bytes));
    if (narrow == nullptr) return nullptr;
    std::mbstate_t state{};
    const wchar_t* src = s;
    size_t n = std::wcsrtombs(narrow, &src, bytes - 1, &state);
    if (n == static_cast<size_t>(-1)) {
        ARC_FREE(narrow);
        return nullptr;
    }
    narrow[n] = '\0';
    return narrow;
}
