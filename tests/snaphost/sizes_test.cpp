#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "sizes.h"

namespace {

using snaphost::parseSize;
using snaphost::roundUp;
using snaphost::SizeRequest;

TEST(SnaphostSize, EveryPercentageReadsTheSameWithOrWithoutTheSignAndSurvivesItsText) {
    for (uint64_t p = 1; p <= 100; ++p) {
        auto bare = parseSize(std::to_string(p));
        auto sign = parseSize(std::to_string(p) + "%");
        ASSERT_TRUE(bare && sign) << p;
        EXPECT_TRUE(bare->percent && bare->value == p && sign->percent && sign->value == p);
        auto again = parseSize(bare->text());
        ASSERT_TRUE(again);
        EXPECT_EQ(again->value, p);
    }
}

TEST(SnaphostSize, UnitsArePowersOf1024InAnySpellingAndSurviveTheirText) {
    const std::pair<const char*, uint64_t> units[] = {
        {"K", 1ull << 10}, {"M", 1ull << 20}, {"G", 1ull << 30}, {"T", 1ull << 40}};
    for (auto [unit, scale] : units) {
        for (uint64_t n : {1ull, 3ull, 512ull, 1000ull}) {
            std::string lower(1, static_cast<char>(unit[0] - 'A' + 'a'));
            for (const std::string& spelled :
                 {std::to_string(n) + unit, std::to_string(n) + lower,
                  std::to_string(n) + unit + "iB", std::to_string(n) + unit + "B"}) {
                auto size = parseSize(spelled);
                ASSERT_TRUE(size) << spelled;
                EXPECT_FALSE(size->percent);
                EXPECT_EQ(size->value, n * scale) << spelled;
                auto again = parseSize(size->text());
                ASSERT_TRUE(again) << size->text();
                EXPECT_EQ(again->value, size->value);
            }
        }
    }
    // A fraction is of the unit, rounded up to a whole byte.
    EXPECT_EQ(parseSize("1.5G")->value, 3ull << 29);
    EXPECT_EQ(parseSize("0.001K")->value, 2u);
}

TEST(SnaphostSize, WhatIsNotASizeIsRefused) {
    for (const char* text : {"", "0", "101", "512", "-5", "10x", "0M", "2.5%", "1.", ".5M", "5Q",
                             "5MM", "5 M", "99999999999999999999G", "100000000000T", "1.0000000001K"})
        EXPECT_FALSE(parseSize(text)) << text;
}

TEST(SnaphostSize, APercentageOfAnyOriginIsItsShareRoundedDown) {
    std::mt19937_64 random(7);
    for (int i = 0; i < 10000; ++i) {
        uint64_t origin = random() >> (random() % 64);
        SizeRequest share{true, 1 + random() % 100};
        unsigned __int128 exact = static_cast<unsigned __int128>(origin) * share.value;
        unsigned __int128 got = share.bytesFor(origin);
        EXPECT_TRUE(got * 100 <= exact && exact < (got + 1) * 100) << origin << " " << share.value;
    }
}

TEST(SnaphostSize, RoundingUpGivesTheFewestWholeUnitsThatHoldIt) {
    std::mt19937_64 random(11);
    for (int i = 0; i < 10000; ++i) {
        uint64_t unit = 1 + random() % (64ull << 20);
        uint64_t bytes = random() % (1ull << 40);
        uint64_t up = roundUp(bytes, unit);
        EXPECT_EQ(up % unit, 0u);
        EXPECT_GE(up, std::max(bytes, unit));
        EXPECT_LT(up - unit, std::max(bytes, uint64_t{1}));
    }
}

}  // namespace
