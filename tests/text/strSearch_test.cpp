// Searching and tokenising, with results mapped back to byte positions of multibyte text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pisnp/strings.h"
#include "text/strTestLocale.h"

namespace {

std::vector<std::string> tokens(char* text, const char* delim) {
    std::vector<std::string> out;
    for (char* t = StrTok(text, delim); t != nullptr; t = StrTok(nullptr, delim)) out.push_back(t);
    return out;
}

TEST(StrSearch, CaseBlindAndEmptySearches) {
    const char* none = nullptr;
    const char* h = "abcd";
    EXPECT_EQ(StrStr(h, ""), nullptr);
    EXPECT_EQ(StrpBrk("abc", ""), nullptr);
    EXPECT_EQ(StrChr(none, 'a'), nullptr);
    EXPECT_EQ(StrStri(h, "BC"), h + 1);
    EXPECT_EQ(StrStri(h, "ABCDE"), nullptr);
    const char* restart = "aaab";
    EXPECT_EQ(StrStri(restart, "AAB"), restart + 1) << "a failed partial match resumes one on";
    const wchar_t* w = L"xxYyZz";
    EXPECT_EQ(StrStri(w, L"yz"), w + 3);
    EXPECT_EQ(StriChr(h, 'B'), h + 1);
}

TEST(StrSearch, CharFormsMapBackToBytePositionsOrFailOnInvalidText) {
    NEED_UTF8_LOCALE();
    const char* s = "\u00e9a\u20acb\u00e9a";  // bytes: 0 é, 2 a, 3 €, 6 b, 7 é, 9 a
    EXPECT_EQ(StrChr(s, 'a'), s + 2);
    EXPECT_EQ(StrrChr(s, 'a'), s + 9);
    EXPECT_EQ(StrpBrk(s, "b\u20ac"), s + 3);
    EXPECT_EQ(StrSpn(s, "\u00e9a"), 3u) << "bytes of the spanned prefix";
    EXPECT_EQ(StrcSpn(s, "z"), 10u);
    std::string longText(kStrMaxConvChars + 10, 'a');
    EXPECT_EQ(StrChr(longText.c_str(), '\0'), longText.c_str() + longText.size())
        << "the terminator is found past the conversion limit too";
    longText += 'z';
    EXPECT_EQ(StrChr(longText.c_str(), 'z'), nullptr) << "nor is anything past the limit";

    EXPECT_EQ(StrChr(s, 0xC3), nullptr) << "a lead byte is no character of its own";
    EXPECT_EQ(StrChr("a\xFF"
                     "b",
                     'b'),
              nullptr);
    EXPECT_EQ(StrSpn("a\xFF", "a"), 0u);
    int rc = -1;
    EXPECT_EQ(StrrChr("a\xFF", 'z', &rc), nullptr);
    EXPECT_EQ(rc, 207);
    EXPECT_EQ(StrrChr(s, 'z', &rc), nullptr);
    EXPECT_EQ(rc, 0) << "not found is not an error";
}

TEST(StrTokens, SplitsMultibyteTextInPlaceAndPastTheLimit) {
    NEED_UTF8_LOCALE();
    char text[] = "  a,\u65e5\u672c;;b ";
    EXPECT_EQ(tokens(text, " ,;"), (std::vector<std::string>{"a", "\u65e5\u672c", "b"}));
    EXPECT_EQ(text[3], '\0') << "tokens are ended inside the caller's text";
    char arrows[] = "a\u2192\u2192b\u2192c";
    EXPECT_EQ(tokens(arrows, "\u2192"), (std::vector<std::string>{"a", "b", "c"}))
        << "the text resumes after all bytes of a multibyte delimiter";
    char some[] = "a,b";
    EXPECT_EQ(StrTok(some, ""), nullptr);
    EXPECT_EQ(StrTok(nullptr, ","), nullptr) << "no earlier text: nothing to continue";
    char only[] = ",,,";
    EXPECT_EQ(StrTok(only, ","), nullptr);

    std::string longToken(kStrMaxConvChars + 100, 'x');
    std::string text2 = longToken + ",\u00e9";
    EXPECT_EQ(tokens(text2.data(), ","), (std::vector<std::string>{longToken, "\u00e9"}));
    std::string delims = std::string(kStrMaxConvChars + 100, ',') + "z,\u00e9";
    EXPECT_EQ(tokens(delims.data(), ","), (std::vector<std::string>{"z", "\u00e9"}));
}

TEST(StrTokens, WideAndReentrantForms) {
    wchar_t w[] = L"one two  three";
    std::vector<std::wstring> got;
    for (wchar_t* t = StrTok(w, L" "); t != nullptr; t = StrTok(nullptr, L" ")) got.push_back(t);
    EXPECT_EQ(got, (std::vector<std::wstring>{L"one", L"two", L"three"}));
    // Two interleaved walks keep their own places.
    char a[] = "1 2";
    char b[] = "x,y";
    char* sa = nullptr;
    char* sb = nullptr;
    EXPECT_STREQ(StrTok(a, " ", &sa), "1");
    EXPECT_STREQ(StrTok(b, ",", &sb), "x");
    EXPECT_STREQ(StrTok(nullptr, " ", &sa), "2");
    EXPECT_STREQ(StrTok(nullptr, ",", &sb), "y");
    EXPECT_EQ(StrTok(nullptr, ",", &sb), nullptr);
    wchar_t ww[] = L"p:q";
    wchar_t* sw = nullptr;
    EXPECT_STREQ(StrTok(ww, L":", &sw), L"p");
    EXPECT_EQ(StrTok(ww, nullptr, &sw), nullptr);
}

}  // namespace
