// Numbers, ReplaceChar, hex2String and the byte-order helpers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "mem/checkedAlloc.h"
#include "pisnp/strings.h"
#include "support/allocTracker.h"
#include "text/strTestLocale.h"

namespace {

TEST(StrNumbers, ConvertAndTolerateNull) {
    char* end = reinterpret_cast<char*>(0x1);
    EXPECT_EQ(StrToL(static_cast<const char*>(nullptr), &end, 10), 0);
    EXPECT_EQ(end, nullptr);
    EXPECT_EQ(StrToUll("18446744073709551615", nullptr, 10), 18446744073709551615ull);
    wchar_t* wend = nullptr;
    const wchar_t* w = L"0x1Fz";
    EXPECT_EQ(StrToL(w, &wend, 0), 31);
    EXPECT_EQ(wend, w + 4);
}

TEST(ReplaceChar, ReplacesCharactersBelowTheLimitAndCutsAbove) {
    std::string big(5000, 'a');
    ReplaceChar(big.data(), 'a', 'b');
    EXPECT_EQ(std::strlen(big.c_str()), kReplaceCharLimit);
    EXPECT_EQ(big.find('b'), std::string::npos) << "a cut text is otherwise left alone";
    std::string edge(kReplaceCharLimit - 1, 'a');
    ReplaceChar(edge.data(), 'a', 'b');
    EXPECT_EQ(edge, std::string(kReplaceCharLimit - 1, 'b'));
    char keep[] = "abc";
    EXPECT_STREQ(ReplaceChar(keep, '\0', 'x'), "abc") << "the terminator is never replaced";

    NEED_UTF8_LOCALE();
    char s[] = "\u00e9-\u20ac-\u00e9-";
    EXPECT_STREQ(ReplaceChar(s, '-', '+'), "\u00e9+\u20ac+\u00e9+");
    char bad[] = "a-\xFF-";
    EXPECT_STREQ(ReplaceChar(bad, '-', '+'), "a-\xFF-") << "unconvertible text is not touched";
}

TEST(Hex2String, UpperCaseDigitsNothingForZeroBytesAndWideWithoutMemory) {
    const unsigned char bytes[] = {0x0A, 0xFF, 0x00, 0x7C};
    char out[16];
    EXPECT_STREQ(hex2String(out, bytes, 4), "0AFF007C");
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(hex2String(out, bytes, 0), out);
    EXPECT_EQ(out[0], '#') << "n = 0 writes nothing, not even a terminator";
    wchar_t wout[16] = L"old";
    EXPECT_EQ(hex2String(wout, nullptr, 2), nullptr);
    pisnp_test::AllocTracker tracker;
    tracker.failAt(1);
    EXPECT_EQ(hex2String(wout, bytes, 2), nullptr);
    EXPECT_STREQ(wout, L"");
    EXPECT_STREQ(hex2String(wout, bytes, 2), L"0AFF");
    EXPECT_EQ(tracker.live(), 0u);
}

// Odd addresses and every byte distinct, so a swapped or shifted byte shows.
TEST(ByteOrder, MostSignificantByteFirst) {
    unsigned char b[9] = {};
    SetEight(b + 1, 0x0102030405060708ull);
    EXPECT_EQ(std::memcmp(b + 1, "\x01\x02\x03\x04\x05\x06\x07\x08", 8), 0);
    EXPECT_EQ(GetEight(b + 1), 0x0102030405060708ull);
    SetFour(b + 1, 0xF1E2D3C4u);
    EXPECT_EQ(b[1], 0xF1);
    EXPECT_EQ(GetFour(b + 1), 0xF1E2D3C4u);
    SetTwo(b + 3, 0xFFFE);
    EXPECT_EQ(b[4], 0xFE);
    EXPECT_EQ(GetTwo(b + 3), 0xFFFE);
}

}  // namespace
