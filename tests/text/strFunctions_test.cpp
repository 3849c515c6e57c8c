// Lengths, copies, allocating functions and comparisons.
#include "pisnp/strings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "mem/checkedAlloc.h"
#include "support/allocTracker.h"
#include "text/strTestLocale.h"

namespace {

using pisnp_test::AllocTracker;

char* checkedCopy(const char* s) {
    auto* p = static_cast<char*>(arcMalloc(std::strlen(s) + 1, "t.cpp", 1));
    std::strcpy(p, s);
    return p;
}

wchar_t* checkedCopy(const wchar_t* s) {
    auto* p = static_cast<wchar_t*>(arcMalloc((std::wcslen(s) + 1) * sizeof(wchar_t), "t.cpp", 1));
    std::wcscpy(p, s);
    return p;
}

// ---- lengths ----

TEST(StrLength, NullIsEmptyAndWideBytesAreFourPerCharacter) {
    EXPECT_EQ(StrLen(static_cast<const char*>(nullptr)), 0u);
    EXPECT_EQ(StrLen(static_cast<const wchar_t*>(nullptr)), 0u);
    EXPECT_EQ(StrLenInByte(L"abc"), 12u);
    EXPECT_EQ(StrLenInChar(""), 0u);
    EXPECT_FALSE(IsSBCSStr(static_cast<const char*>(nullptr)));
    EXPECT_TRUE(IsSBCSStr(""));
    EXPECT_EQ(CharAdv(""), nullptr);
    EXPECT_EQ(CharAdv(static_cast<const char*>(nullptr)), nullptr);
}

TEST(StrLength, MultibyteCharactersAndInvalidBytes) {
    NEED_UTF8_LOCALE();
    const char* text = "a\u00e9\u20ac\U0001D11E";  // 1 + 2 + 3 + 4 bytes
    EXPECT_EQ(StrLen(text), 10u);
    EXPECT_EQ(StrLenInChar(text), 4u);
    EXPECT_EQ(StrLenInChar("a\xFF"
                           "b"),
              3u)
        << "an invalid byte counts as one character";
    EXPECT_EQ(StrLenInChar("ab\xE2\x82"), 4u) << "a cut-off sequence at the end counts bytewise";
    EXPECT_EQ(CharSize(text + 1), 2);
    EXPECT_EQ(CharSize("\xFF"), -1);
    EXPECT_TRUE(IsSBCSStr("plain"));
    EXPECT_FALSE(IsSBCSStr(text));

    const char* p = text;
    std::vector<long> steps;
    while ((p = CharAdv(p)) != nullptr) steps.push_back(p - text);
    EXPECT_EQ(steps, (std::vector<long>{1, 3, 6, 10}));
    const char* bad =
        "\xFF"
        "x";
    EXPECT_EQ(CharAdv(bad), bad + 1);
}

TEST(StrLength, DisplayWidthsFallBackToByteLength) {
    NEED_UTF8_LOCALE();
    const char* wide = "\u65e5\u672c";  // two double-width characters, 6 bytes
    EXPECT_EQ(StrWidth(wide, 10), 4);
    EXPECT_EQ(StrWidth(wide, 1), 2);
    EXPECT_EQ(StrWidth("a\x01", 5), 2) << "unprintable: byte length";
    EXPECT_EQ(StrWidth("\xFF\xFE", 5), 2) << "unconvertible: byte length";
    EXPECT_EQ(StrWidth(nullptr, 5), 0);
    EXPECT_EQ(CharWidth(wide), 2);
    EXPECT_EQ(CharWidth("\xFF"), 1);
    EXPECT_EQ(CharWidth("\u0301"), 1) << "a combining mark has no width of its own";

    AllocTracker tracker;
    tracker.failAt(1);
    EXPECT_EQ(StrWidth(wide, 10), 6) << "without memory: byte length";
    EXPECT_EQ(tracker.live(), 0u);
}

// ---- copying ----

TEST(StrCopy, NullArgumentsWriteNothing) {
    char d[4] = "xyz";
    EXPECT_EQ(StrCpy(d, static_cast<const char*>(nullptr)), nullptr);
    EXPECT_EQ(StrCpy(static_cast<char*>(nullptr), "a"), nullptr);
    EXPECT_EQ(StrnCpy(d, static_cast<const char*>(nullptr), 3), nullptr);
    EXPECT_EQ(StrCpy(d, static_cast<const wchar_t*>(nullptr)), nullptr);
    EXPECT_EQ(StrCpy(static_cast<wchar_t*>(nullptr), "a"), nullptr);
    EXPECT_STREQ(d, "xyz");
    EXPECT_EQ(StrCat(static_cast<char*>(nullptr), "a"), nullptr);
    EXPECT_EQ(StrCat(d, static_cast<const char*>(nullptr)), d);
    EXPECT_STREQ(d, "xyz");
}

TEST(StrCopy, OverlappingTextsMoveBothWays) {
    char down[] = "abcdef";
    EXPECT_EQ(StrCpy(down, down + 2), down);
    EXPECT_STREQ(down, "cdef");

    char up[16] = "abcdef";
    StrCpy(up + 2, up);
    EXPECT_STREQ(up, "ababcdef");

    wchar_t wide[16] = L"abcdef";
    StrCpy(wide + 1, wide);
    EXPECT_STREQ(wide, L"aabcdef");

    char n[16] = "abcdef";
    StrnCpy(n + 1, n, 4);
    EXPECT_STREQ(n, "aabcdf");

    char twice[16] = "ab";
    EXPECT_STREQ(StrCat(twice, twice), "abab");
}

TEST(StrCopy, BoundedCopiesPadOrLeaveUnterminated) {
    char d[8];
    std::memset(d, 'x', sizeof d);
    StrnCpy(d, "ab", 5);
    EXPECT_EQ(std::string(d, 8), std::string("ab\0\0\0xxx", 8));

    std::memset(d, 'x', sizeof d);
    StrnCpy(d, "abcdef", 3);
    EXPECT_EQ(std::string(d, 4), "abcx");

    wchar_t w[4] = L"zzz";
    StrnCpy(w, L"abc", 2);
    EXPECT_STREQ(w, L"abz");

    char cat[8] = "ab";
    EXPECT_STREQ(StrnCat(cat, "cdef", 2), "abcd");
}

TEST(StrCopy, MixedCopiesConvert) {
    NEED_UTF8_LOCALE();
    wchar_t w[16];
    EXPECT_STREQ(StrCpy(w, "a\u00e9\u20ac"), L"a\u00e9\u20ac");
    char c[16];
    EXPECT_STREQ(StrCpy(c, L"a\u00e9\u20ac"), "a\u00e9\u20ac");

    std::wmemset(w, L'#', 16);
    StrnCpy(w, "\u00e9\u00e9\u00e9", 2);
    EXPECT_EQ(std::wstring(w, 3), L"\u00e9\u00e9#") << "n counts characters";
    std::memset(c, '#', sizeof c);
    StrnCpy(c, L"\u00e9\u00e9", 3);
    EXPECT_EQ(std::string(c, 4), "\u00e9##") << "n counts bytes; a split character is left out";

    wchar_t wcat[16] = L"x";
    EXPECT_STREQ(StrCat(wcat, "\u00e9"), L"x\u00e9");
    EXPECT_STREQ(StrnCat(wcat, "\u20ac\u20ac", 1), L"x\u00e9\u20ac");
    char ccat[16] = "x";
    EXPECT_STREQ(StrCat(ccat, L"\u00e9"), "x\u00e9");
}

TEST(StrCopy, InvalidSourcesInMixedCopies) {
    NEED_UTF8_LOCALE();
    wchar_t w[64];
    EXPECT_STREQ(StrCpy(w, "ab\xFF"), L"Con") << "message cut to the source's 3 bytes";
    std::string longBad(40, 'a');
    longBad[20] = '\xFF';
    EXPECT_STREQ(StrCpy(w, longBad.c_str()), L"Conversion error - invalid source!");
    std::wmemset(w, L'#', 64);
    StrnCpy(w, "\xFF\xFF\xFF\xFF", 6);
    EXPECT_EQ(std::wstring(w, 7), std::wstring(L"Conv\0\0#", 7));

    const wchar_t bad[] = {L'a', static_cast<wchar_t>(0xD800), L'\0'};
    char c[16] = "old";
    EXPECT_STREQ(StrCpy(c, bad), "");
    char cat[16] = "keep";
    EXPECT_STREQ(StrCat(cat, bad), "keep");
    wchar_t wcat[16] = L"keep";
    EXPECT_STREQ(StrCat(wcat, "\xFF"), L"keep");
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

    std::vector<char> c(limit + 10, '#');
    StrCpy(c.data(), wide.c_str());
    EXPECT_EQ(std::strlen(c.data()), limit);
    EXPECT_EQ(c[limit + 1], '#');

    std::vector<char> cat(2 * limit, '\0');
    StrCat(cat.data(), wide.c_str());
    EXPECT_EQ(std::strlen(cat.data()), limit);
}

TEST(StrCopy, MemMoveCountsElements) {
    wchar_t w[] = L"abcdef";
    MemMove(w + 1, w, 3);
    EXPECT_STREQ(w, L"aabcef");
    char c[] = "abcdef";
    MemMove(c, c + 2, 2);
    EXPECT_STREQ(c, "cdcdef");
}

// ---- allocating functions ----

TEST(StrAlloc, SameKindAppendReleasesOnlyOnSuccess) {
    AllocTracker tracker;
    char* a = checkedCopy("ab");
    a = StrApp(a, "cd");
    ASSERT_NE(a, nullptr);
    EXPECT_STREQ(a, "abcd");
    EXPECT_EQ(tracker.live(), 1u) << "the old block went back";

    EXPECT_EQ(StrApp(a, static_cast<const char*>(nullptr)), nullptr);
    EXPECT_EQ(StrApp(static_cast<char*>(nullptr), "x"), nullptr);
    tracker.failAt(1);
    EXPECT_EQ(StrApp(a, "ef"), nullptr);
    EXPECT_EQ(tracker.live(), 1u);
    EXPECT_STREQ(a, "abcd") << "a is kept when the append fails";
    EXPECT_EQ(chkSnake(a, "t.cpp", 2), 0);
    arcFree(a, "t.cpp", 3);

    wchar_t* w = checkedCopy(L"ab");
    w = StrApp(w, L"cd");
    EXPECT_STREQ(w, L"abcd");
    arcFree(w, "t.cpp", 4);
    EXPECT_EQ(tracker.live(), 0u);
}

TEST(StrAlloc, MixedAppendConsumesAOnEveryFailure) {
    NEED_UTF8_LOCALE();
    AllocTracker tracker;
    wchar_t* w = StrApp(checkedCopy(L"x"), "\u00e9");
    ASSERT_NE(w, nullptr);
    EXPECT_STREQ(w, L"x\u00e9");
    arcFree(w, "t.cpp", 1);
    char* c = StrApp(checkedCopy("x"), L"\u20ac");
    ASSERT_NE(c, nullptr);
    EXPECT_STREQ(c, "x\u20ac");
    arcFree(c, "t.cpp", 2);
    EXPECT_EQ(tracker.live(), 0u);

    EXPECT_EQ(StrApp(checkedCopy(L"x"), static_cast<const char*>(nullptr)), nullptr);
    EXPECT_EQ(StrApp(checkedCopy(L"x"), "\xFF"), nullptr);
    const wchar_t bad[] = {static_cast<wchar_t>(0xD800), L'\0'};
    EXPECT_EQ(StrApp(checkedCopy("x"), bad), nullptr);
    EXPECT_EQ(StrApp(static_cast<wchar_t*>(nullptr), "x"), nullptr);
    EXPECT_EQ(tracker.live(), 0u) << "a released on null and unconvertible b";

    wchar_t* a = checkedCopy(L"x");
    tracker.failAt(1);
    EXPECT_EQ(StrApp(a, "y"), nullptr);
    char* b = checkedCopy("x");
    tracker.failAt(1);
    EXPECT_EQ(StrApp(b, L"y"), nullptr);
    EXPECT_EQ(tracker.live(), 0u) << "a released when memory runs out";
}

TEST(StrAlloc, DuplicatesOfEveryKind) {
    NEED_UTF8_LOCALE();
    AllocTracker tracker;
    char* c = StrDup("abc");
    EXPECT_STREQ(c, "abc");
    char* c2 = StrDup(reinterpret_cast<char*>(0x1), "def");  // kind argument is never used
    EXPECT_STREQ(c2, "def");
    wchar_t* w = StrDup(static_cast<wchar_t*>(nullptr), "a\u00e9\u20ac");
    EXPECT_STREQ(w, L"a\u00e9\u20ac");
    char* back = StrDup(static_cast<char*>(nullptr), L"a\u00e9\U0001D11E");
    EXPECT_STREQ(back, "a\u00e9\U0001D11E");
    for (void* p : {static_cast<void*>(c), static_cast<void*>(c2), static_cast<void*>(w),
                    static_cast<void*>(back)}) {
        EXPECT_EQ(chkSnake(p, "t.cpp", 1), 0);
        arcFree(p, "t.cpp", 2);
    }

    EXPECT_EQ(StrDup(static_cast<const char*>(nullptr)), nullptr);
    EXPECT_EQ(StrDup(static_cast<wchar_t*>(nullptr), "\xC3"), nullptr);
    const wchar_t bad[] = {static_cast<wchar_t>(0xD800), L'\0'};
    EXPECT_EQ(StrDup(static_cast<char*>(nullptr), bad), nullptr);
    EXPECT_EQ(tracker.live(), 0u) << "failed conversions release their block";
}

TEST(StrAlloc, OutOfMemoryGivesNullAndLeaksNothing) {
    NEED_UTF8_LOCALE();
    auto check = [](void* result, bool injected, AllocTracker& tracker) {
        if (injected) {
            EXPECT_EQ(result, nullptr);
            EXPECT_EQ(tracker.live(), 0u);
        } else {
            ASSERT_NE(result, nullptr);
            arcFree(result, "t.cpp", 1);
        }
    };
    pisnp_test::sweepAllocationFailures([] { return static_cast<void*>(StrDup("abc")); }, check);
    pisnp_test::sweepAllocationFailures([] { return static_cast<void*>(StrDup(L"abc")); }, check);
    pisnp_test::sweepAllocationFailures(
        [] { return static_cast<void*>(StrDup(static_cast<wchar_t*>(nullptr), "\u00e9")); }, check);
    pisnp_test::sweepAllocationFailures(
        [] { return static_cast<void*>(StrDup(static_cast<char*>(nullptr), L"\u00e9")); }, check);
}

// ---- comparison ----

TEST(StrCompare, CaseBlindResultsAndSigns) {
    EXPECT_EQ(StriCmp("abc", "ABC"), 0);
    EXPECT_EQ(StriCmp("ab", "abc"), -1);
    EXPECT_EQ(StriCmp("abc", "ab"), 1);
    EXPECT_EQ(StriCmp("a", "C"), 'A' - 'C');
    EXPECT_EQ(StriCmp("[", "a"), '[' - 'A') << "compared in upper case, so [ sorts after A";
    EXPECT_EQ(StriCmp(L"xYz", L"XyZ"), 0);
    EXPECT_EQ(StriCmp(L"ab", L"abc"), -1);

    EXPECT_EQ(StrniCmp("abcd", "ABCE", 3), 0);
    EXPECT_EQ(StrniCmp("abcd", "ABCE", 4), 'D' - 'E');
    EXPECT_EQ(StrniCmp("abcd", "ABCE", 0), 'D' - 'E') << "0 compares the whole texts";
    EXPECT_EQ(StrniCmp("ab", "abc", 2), 0);
    EXPECT_EQ(StrniCmp(L"ab", L"ABC", 3), -1);
}

TEST(StrCompare, NullRules) {
    const char* none = nullptr;
    const wchar_t* wnone = nullptr;
    EXPECT_EQ(StriCmp(none, none), 0);
    EXPECT_EQ(StriCmp("a", none), 1);
    EXPECT_EQ(StriCmp(none, "a"), -1);
    EXPECT_EQ(StriCmp(none, ""), -1);
    EXPECT_EQ(StrniCmp(wnone, L"a", 1), -1);
    EXPECT_EQ(StrColl("a", none), 1);
    EXPECT_EQ(StrColl(wnone, L"a"), -1);
    EXPECT_EQ(StrCmp(none, none), 0);
    EXPECT_LT(StrCmp(none, "a"), 0);
    EXPECT_GT(StrCmp(L"a", none), 0);
    EXPECT_LT(StrnCmp(none, L"a", 1), 0);
}

TEST(StrCompare, MultibyteCaseAndMixedKinds) {
    NEED_UTF8_LOCALE();
    EXPECT_EQ(StriCmp("\u00c9cole", "\u00e9COLE"), 0) << "folding works on characters";
    EXPECT_EQ(StrniCmp("\u00e9t\u00e9", "\u00c9T\u00c0", 2), 0);
    EXPECT_EQ(StrniCmp("\u00e9t\u00e9", "\u00c9T\u00c0", 3), 0xC9 - 0xC0);
    EXPECT_EQ(StriCmp("a\xFF", "A\xFF"), 0) << "invalid text still compares, byte by byte";
    EXPECT_GT(StriCmp("a\xFF", "A\xFE"), 0);

    EXPECT_EQ(StrCmp(L"\u00e9t\u00e9", "\u00e9t\u00e9"), 0);
    EXPECT_EQ(StrCmp("\u00e9t\u00e9", L"\u00e9t\u00e9"), 0);
    EXPECT_LT(StrCmp(L"a", "b"), 0);
    EXPECT_GT(StrCmp("b", L"a"), 0);
    EXPECT_EQ(StrnCmp(L"\u00e9x", "\u00e9y", 1), 0) << "wide first: n counts characters";
    EXPECT_EQ(StrnCmp("\u00e9x", L"\u00e9y", 2), 0) << "char first: n counts bytes";
    EXPECT_NE(StrnCmp("\u00e9x", L"\u00e9y", 3), 0);
    EXPECT_LT(StrCmp(L"zzz", "\xFF"), 0) << "an unconvertible text sorts last";
}

}  // namespace
