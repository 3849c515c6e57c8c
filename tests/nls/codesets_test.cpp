// Code-page tables, EBCDIC and the byte-order conversions as properties over every value.
#include "pisnp/codesets.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(CodePages, EveryMappedByteComesBackAndUnmappedOnesAreRefused) {
    for (int cp : {367, 437, 819, 850}) {
        const unsigned short* table = nlsGetUCSTable(cp);
        ASSERT_NE(table, nullptr) << cp;
        for (int b = 0; b < 256; ++b) {
            char in = static_cast<char>(b), ucs[2], back[2];
            unsigned long bytes = 0, count = 0;
            int rc = nlsLocalToUcs(cp, &in, 1, ucs, 2, &bytes);
            if (table[b] == 0xFFFF) {
                EXPECT_EQ(rc, -2) << cp << " byte " << b;
                continue;
            }
            ASSERT_EQ(rc, 0);
            EXPECT_EQ(nlsUcsToLocal(cp, ucs, bytes, back, 2, &count), 0) << cp << " byte " << b;
            EXPECT_EQ(static_cast<unsigned char>(back[0]), b) << cp;
        }
    }
    EXPECT_EQ(nlsGetUCSTable(1252), nullptr);
    unsigned short u = 0x00C7, bell = 0x0007;
    char out[2];
    unsigned long n = 0;
    EXPECT_EQ(nlsUcsToLocal(850, reinterpret_cast<char*>(&u), 2, out, 2, &n), 0);
    EXPECT_EQ(static_cast<unsigned char>(out[0]), 0x80);
    EXPECT_EQ(nlsUcsToLocal(850, reinterpret_cast<char*>(&bell), 2, out, 2, &n), -2);
    EXPECT_EQ(nlsGetUCSTable(437)[0xE6], 0x03BC);
}

TEST(Ebcdic, TablesMapBackExceptTheirTwoDoublesAndKeepTheTwoControlBytes) {
    for (int b = 0; b < 256; ++b) {
        if (b != 0xB4) {  // goes to 0x15 as the newline does, and comes back as one
            EXPECT_EQ(ebcdictoascii[asciitoebcdic[b]], b) << b;
        }
    }
    unsigned char text[] = {0xC1, 0x18, 0x19, 0x81};
    Cvt2ClientCS(22, text, sizeof text);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(text), 4),
              "A\x18\x19"
              "a");
    Cvt2ServerCS(22, text, sizeof text);
    EXPECT_EQ(text[0], 0xC1);
    Cvt2ClientCS(7, text, sizeof text);
    EXPECT_EQ(text[0], 0xC1) << "other code sets are left alone";
}

TEST(WideByteOrder, BigEndianFormRoundTripsAndSwapIsItsOwnInverse) {
    wchar_t text[] = L"A\u00FC\u20AC\uFFFD";
    wchar_t copy[5];
    std::memcpy(copy, text, sizeof text);
    Cvt2NfUcs(copy);
    const auto* bytes = reinterpret_cast<const unsigned char*>(copy);
    EXPECT_EQ(bytes[0], 0x00);
    EXPECT_EQ(bytes[1], 'A');
    EXPECT_EQ(bytes[4], 0x20);
    EXPECT_EQ(bytes[5], 0xAC);
    EXPECT_EQ(Cvt2PsUcs(copy), copy);
    EXPECT_STREQ(copy, text);
    Cvt2LocalUcs(copy);
    EXPECT_EQ(copy[0], 0x4100);
    Cvt2LocalUcs(copy);
    EXPECT_STREQ(copy, text);
}

}  // namespace
