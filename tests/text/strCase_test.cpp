// Case mapping, character classes and single-character conversion.
#include <gtest/gtest.h>

#include <cwctype>
#include <string>

#include "pisnp/strings.h"
#include "text/strTestLocale.h"

namespace {

TEST(StrCase, SevenBitTouchesOnlyAsciiLetters) {
    // The neighbours of the letter ranges differ from them by the same 0x20 bit.
    char up[] = "az`{@[\xC3\xA9\xFF";
    EXPECT_STREQ(StrUpper7Bit(up), "AZ`{@[\xC3\xA9\xFF");
    char down[] = "AZ`{@[\xC3\x89\xDF";
    EXPECT_STREQ(StrLower7Bit(down), "az`{@[\xC3\x89\xDF");
    wchar_t w[] = L"a\u00e9Z";
    EXPECT_STREQ(StrUpper7Bit(w), L"A\u00e9Z");
    EXPECT_STREQ(StrLower7Bit(w), L"a\u00e9z");
}

TEST(StrCase, MultibyteMappingInPlaceKeepsEveryCharactersSize) {
    NEED_UTF8_LOCALE();
    char s[] =
        "\u00e9t\u00e9 a\xFF"
        "b";
    EXPECT_STREQ(StrUpper(s),
                 "\u00c9T\u00c9 A\xFF"
                 "B")
        << "an invalid byte is stepped over";
    EXPECT_STREQ(StrLower(s),
                 "\u00e9t\u00e9 a\xFF"
                 "b");
    char n[] = "\u00e9a\u00e9";
    EXPECT_STREQ(StrnUpper(n, 2), "\u00c9A\u00e9") << "n counts characters, not bytes";
    wchar_t wn[] = L"\u00e9bc";
    EXPECT_STREQ(StrnUpper(wn, 2), L"\u00c9Bc");
    // Dotless i (2 bytes) upper-cases to I (1 byte); U+0250 (2 bytes) to U+2C6F (3 bytes).
    ASSERT_EQ(std::towupper(0x131), static_cast<wint_t>('I'));
    char kept[] = "a\u0131\u0250z";
    EXPECT_STREQ(StrUpper(kept), "A\u0131\u0250Z");
}

TEST(StrCase, SingleCharactersPredicatesAndClasses) {
    EXPECT_EQ(ToUpper('a'), 'A');
    EXPECT_EQ(ToUpper(300), 300) << "not a character: unchanged";
    EXPECT_EQ(ToLower(-200), -200);
    EXPECT_TRUE(IsStrLower(static_cast<const char*>(nullptr)));
    EXPECT_TRUE(IsStrUpper(""));
    EXPECT_FALSE(IsStrLower("aBc"));
    EXPECT_FALSE(IsStrUpper(L"Ab"));
    NEED_UTF8_LOCALE();
    EXPECT_FALSE(IsDigit('a'));
    EXPECT_TRUE(IsAlpha(L'\u00e9'));
    EXPECT_FALSE(IsAlpha('\xC3')) << "a lone byte above 0x7F is no letter in UTF-8";
}

TEST(CharConv, EveryDirection) {
    NEED_UTF8_LOCALE();
    char bytes[8] = {};
    EXPECT_EQ(CharConv(bytes, L'\u20ac'), 3);
    EXPECT_EQ(std::string(bytes, 3), "\u20ac");
    EXPECT_EQ(CharConv(bytes, static_cast<wchar_t>(0xD800)), -1);
    EXPECT_EQ(bytes[0], '\0');
    wchar_t w = L'#';
    EXPECT_EQ(CharConv(&w, '\xC3'), -1);
    EXPECT_EQ(w, L'\0');
    EXPECT_EQ(CharConv(&w, "\u20acx"), 3);
    EXPECT_EQ(w, L'\u20ac');
    EXPECT_EQ(cvtFromWide(bytes, L"x", sizeof bytes), -1);
    EXPECT_EQ(cvtToWide(&w, "x", 1), -1);
}

}  // namespace
