// Lengths, copies, allocating functions and comparisons.
#include "pisnp/strings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "mem/checkedAlloc.h"
#include "support/allocTracker.h"
#include "text/strTestLocale.h"

namespace {

using pisnp_test::AllocTracker;

template <typename C>
C* checkedCopy(const C* s) {
    size_t bytes = (std::char_traits<C>::length(s) + 1) * sizeof(C);
    auto* p = static_cast<C*>(arcMalloc(bytes, "t.cpp", 1));
    std::memcpy(p, s, bytes);
    return p;
}

TEST(StrLength, NullEmptyMultibyteAndInvalidBytes) {
    EXPECT_EQ(StrLen(static_cast<const char*>(nullptr)), 0u);
    EXPECT_EQ(StrLenInByte(L"abc"), 12u);
    EXPECT_FALSE(IsSBCSStr(static_cast<const char*>(nullptr)));
    EXPECT_TRUE(IsSBCSStr(""));
    EXPECT_EQ(CharAdv(""), nullptr);
    NEED_UTF8_LOCALE();
    const char* text = "a\u00e9\u20ac\U0001D11E";  // 1 + 2 + 3 + 4 bytes
    EXPECT_EQ(StrLenInChar(text), 4u);
    EXPECT_EQ(StrLenInChar("a\xFF"
                           "b"),
              3u)
        << "an invalid byte counts as one character";
    EXPECT_EQ(StrLenInChar("ab\xE2\x82"), 4u) << "a cut-off sequence at the end counts bytewise";
    EXPECT_EQ(CharSize(text + 1), 2);
    EXPECT_EQ(CharSize("\xFF"), -1);
    EXPECT_FALSE(IsSBCSStr(text));
    std::vector<long> steps;
    for (const char* p = CharAdv(text); p != nullptr; p = CharAdv(p)) steps.push_back(p - text);
    EXPECT_EQ(steps, (std::vector<long>{1, 3, 6, 10}));
}

TEST(StrLength, DisplayWidthsFallBackToByteLength) {
    NEED_UTF8_LOCALE();
    const char* wide = "\u65e5\u672c";  // two double-width characters, 6 bytes
    EXPECT_EQ(StrWidth(wide, 10), 4);
    EXPECT_EQ(StrWidth("\xFF\xFE", 5), 2) << "unconvertible: byte length";
    EXPECT_EQ(CharWidth(wide), 2);
    EXPECT_EQ(CharWidth("\u0301"), 1) << "a combining mark has no width of its own";
    AllocTracker tracker;
    tracker.failAt(1);
    EXPECT_EQ(StrWidth(wide, 10), 6) << "without memory: byte length";
    EXPECT_EQ(tracker.live(), 0u);
}

// Copies within one buffer, in both directions and at every distance, against memmove; bounded
// ones pad as strncpy does.
TEST(StrCopy, OverlappingAndBoundedCopiesMoveAndPad) {
    std::mt19937 rng(8);
    for (int round = 0; round < 300; ++round) {
        std::string buf(40, '#'), expected;
        size_t from = rng() % 20, to = rng() % 20, len = rng() % 12, n = rng() % 16;
        for (size_t i = 0; i < len; ++i) buf[from + i] = static_cast<char>('a' + i);
        buf[from + len] = '\0';
        expected = buf;
        std::memmove(&expected[to], &expected[from], len + 1);
        std::string copy = buf;
        EXPECT_EQ(StrCpy(&copy[to], &copy[from]), &copy[to]);
        EXPECT_EQ(copy, expected) << "StrCpy " << from << "->" << to;
        expected = buf;
        std::string src(&buf[from], std::min(len, n));
        std::memmove(&expected[to], src.data(), src.size());
        if (n > len) std::memset(&expected[to + len], 0, n - len);
        copy = buf;
        StrnCpy(&copy[to], &copy[from], n);
        EXPECT_EQ(copy, expected) << "StrnCpy " << from << "->" << to << " n " << n;
    }
    char twice[16] = "ab";
    EXPECT_STREQ(StrCat(twice, twice), "abab");
    EXPECT_STREQ(StrnCat(twice, "cdef", 2), "ababcd");
    wchar_t w[] = L"abcdef";
    EXPECT_STREQ(MemMove(w + 1, w, 3) - 1, L"aabcef") << "MemMove counts elements";
    EXPECT_EQ(StrCpy(twice, static_cast<const char*>(nullptr)), nullptr);
    EXPECT_STREQ(StrCat(twice, static_cast<const char*>(nullptr)), "ababcd");
}

TEST(StrCopy, MixedCopiesConvertCountAndReportInvalidSources) {
    NEED_UTF8_LOCALE();
    wchar_t w[64];
    char c[16];
    EXPECT_STREQ(StrCpy(w, "a\u00e9\u20ac"), L"a\u00e9\u20ac");
    EXPECT_STREQ(StrCpy(c, L"a\u00e9\u20ac"), "a\u00e9\u20ac");
    std::wmemset(w, L'#', 16);
    StrnCpy(w, "\u00e9\u00e9\u00e9", 2);
    EXPECT_EQ(std::wstring(w, 3), L"\u00e9\u00e9#") << "n counts characters";
    std::memset(c, '#', sizeof c);
    StrnCpy(c, L"\u00e9\u00e9", 3);
    EXPECT_EQ(std::string(c, 4), "\u00e9##") << "n counts bytes; a split character is left out";
    wchar_t wcat[16] = L"x";
    EXPECT_STREQ(StrnCat(wcat, "\u20ac\u20ac", 1), L"x\u20ac");
    EXPECT_STREQ(StrCat(wcat, "\xFF"), L"x\u20ac") << "an invalid source adds nothing";

    EXPECT_STREQ(StrCpy(w, "ab\xFF"), L"Con") << "message cut to the source's 3 bytes";
    std::string longBad(40, 'a');
    longBad[20] = '\xFF';
    EXPECT_STREQ(StrCpy(w, longBad.c_str()), L"Conversion error - invalid source!");
    const wchar_t bad[] = {L'a', static_cast<wchar_t>(0xD800), L'\0'};
    EXPECT_STREQ(StrCpy(c, bad), "");
}

TEST(StrCopy, ConversionsStopAtTheLimit) {
    NEED_UTF8_LOCALE();
    const size_t limit = kStrMaxConvChars;
    std::string narrow(limit + 500, 'a');
    std::wstring wide(limit + 500, L'b');
    std::vector<wchar_t> w(limit + 10, L'#');
    StrCpy(w.data(), narrow.c_str());
    EXPECT_EQ(std::wcslen(w.data()), limit);
    EXPECT_EQ(w[limit + 1], L'#') << "nothing written past the terminator";
}

TEST(StrAlloc, AppendReleasesOnSuccessSameKindKeepsMixedConsumes) {
    NEED_UTF8_LOCALE();
    AllocTracker tracker;
    char* a = StrApp(checkedCopy("ab"), "cd");
    EXPECT_STREQ(a, "abcd");
    EXPECT_EQ(tracker.live(), 1u) << "the old block went back";
    EXPECT_EQ(StrApp(a, static_cast<const char*>(nullptr)), nullptr);
    tracker.failAt(1);
    EXPECT_EQ(StrApp(a, "ef"), nullptr);
    EXPECT_STREQ(a, "abcd") << "a is kept when the append fails";
    EXPECT_EQ(chkSnake(a, "t.cpp", 2), 0);
    arcFree(a, "t.cpp", 3);
    wchar_t* w = StrApp(checkedCopy(L"x"), "\u00e9");
    EXPECT_STREQ(w, L"x\u00e9");
    arcFree(w, "t.cpp", 1);
    char* c = StrApp(checkedCopy("x"), L"\u20ac");
    EXPECT_STREQ(c, "x\u20ac");
    arcFree(c, "t.cpp", 2);

    const wchar_t bad[] = {static_cast<wchar_t>(0xD800), L'\0'};
    EXPECT_EQ(StrApp(checkedCopy(L"x"), "\xFF"), nullptr);
    EXPECT_EQ(StrApp(checkedCopy("x"), bad), nullptr);
    wchar_t* x = checkedCopy(L"x");
    tracker.failAt(1);
    EXPECT_EQ(StrApp(x, "y"), nullptr);
    EXPECT_EQ(tracker.live(), 0u) << "mixed forms release a on every failure";
}

TEST(StrAlloc, DuplicatesOfEveryKindAndWithoutMemory) {
    NEED_UTF8_LOCALE();
    AllocTracker tracker;
    char* c2 = StrDup(reinterpret_cast<char*>(0x1), "def");  // kind argument is never used
    wchar_t* w = StrDup(static_cast<wchar_t*>(nullptr), "a\u00e9\u20ac");
    char* back = StrDup(static_cast<char*>(nullptr), L"a\u00e9\U0001D11E");
    EXPECT_STREQ(c2, "def");
    EXPECT_STREQ(w, L"a\u00e9\u20ac");
    EXPECT_STREQ(back, "a\u00e9\U0001D11E");
    for (void* p : {static_cast<void*>(c2), static_cast<void*>(w), static_cast<void*>(back)}) {
        EXPECT_EQ(chkSnake(p, "t.cpp", 1), 0);
        arcFree(p, "t.cpp", 2);
    }
    EXPECT_EQ(StrDup(static_cast<wchar_t*>(nullptr), "\xC3"), nullptr);
    const wchar_t bad[] = {static_cast<wchar_t>(0xD800), L'\0'};
    EXPECT_EQ(StrDup(static_cast<char*>(nullptr), bad), nullptr);
    EXPECT_EQ(tracker.live(), 0u) << "failed conversions release their block";

    auto check = [](void* result, bool injected, AllocTracker& t) {
        EXPECT_EQ(result == nullptr, injected);
        if (result != nullptr) arcFree(result, "t.cpp", 1);
        EXPECT_EQ(t.live(), 0u);
    };
    pisnp_test::sweepAllocationFailures(
        [] { return static_cast<void*>(StrDup(static_cast<char*>(nullptr), L"\u00e9")); }, check);
}

TEST(StrCompare, CaseBlindResultsSignsAndNulls) {
    EXPECT_EQ(StriCmp("abc", "ABC"), 0);
    EXPECT_EQ(StriCmp("ab", "abc"), -1);
    EXPECT_EQ(StriCmp("abc", "ab"), 1);
    EXPECT_EQ(StriCmp("[", "a"), '[' - 'A') << "compared in upper case, so [ sorts after A";
    EXPECT_EQ(StriCmp(L"xYz", L"XyZ"), 0);
    EXPECT_EQ(StrniCmp("abcd", "ABCE", 3), 0);
    EXPECT_EQ(StrniCmp("abcd", "ABCE", 0), 'D' - 'E') << "0 compares the whole texts";
    EXPECT_EQ(StrniCmp(L"ab", L"ABC", 3), -1);
    const char* none = nullptr;
    EXPECT_EQ(StriCmp(none, none), 0);
    EXPECT_EQ(StriCmp("a", none), 1);
    EXPECT_EQ(StriCmp(none, ""), -1);
    EXPECT_EQ(StrColl(static_cast<const wchar_t*>(nullptr), L"a"), -1);
    EXPECT_LT(StrCmp(none, "a"), 0);
    EXPECT_LT(StrnCmp(none, L"a", 1), 0);
}

TEST(StrCompare, MultibyteCaseAndMixedKinds) {
    NEED_UTF8_LOCALE();
    EXPECT_EQ(StriCmp("\u00c9cole", "\u00e9COLE"), 0) << "folding works on characters";
    EXPECT_EQ(StrniCmp("\u00e9t\u00e9", "\u00c9T\u00c0", 3), 0xC9 - 0xC0);
    EXPECT_GT(StriCmp("a\xFF", "A\xFE"), 0) << "invalid text still compares, byte by byte";
    std::string longer(kStrMaxConvChars, 'a');
    EXPECT_EQ(StriCmp((longer + "x").c_str(), (longer + "Y").c_str()), 0)
        << "compared as far as the conversion goes";
    EXPECT_EQ(StrCmp(L"\u00e9t\u00e9", "\u00e9t\u00e9"), 0);
    EXPECT_GT(StrCmp("b", L"a"), 0);
    EXPECT_EQ(StrnCmp(L"\u00e9x", "\u00e9y", 1), 0) << "wide first: n counts characters";
    EXPECT_EQ(StrnCmp("\u00e9x", L"\u00e9y", 2), 0) << "char first: n counts bytes";
    EXPECT_LT(StrCmp(L"zzz", "\xFF"), 0) << "an unconvertible text sorts last";
}

}  // namespace
