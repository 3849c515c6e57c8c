#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "fillWatch.h"

namespace {

using snaphost::FillWatch;

TEST(SnaphostFillWatch, DelaysStayWithinTheirBoundsAndThePeakIsTheHighestReading) {
    std::mt19937 random(3);
    for (int run = 0; run < 200; ++run) {
        FillWatch watch;
        double t = 0, fill = 0, highest = 0;
        for (int i = 0; i < 50; ++i) {
            fill = std::clamp(fill + std::uniform_real_distribution<double>(-5, 30)(random), 0.0, 100.0);
            highest = std::max(highest, fill);
            double delay = watch.record(t, fill);
            ASSERT_GE(delay, FillWatch::kShortestDelay);
            ASSERT_LE(delay, FillWatch::kLongestDelay);
            t += delay;
        }
        EXPECT_EQ(watch.peak(), highest);
        EXPECT_EQ(watch.tenthsReached(), static_cast<int>(highest / 10));
    }
}

TEST(SnaphostFillWatch, WhileNothingChangesTheDelayGrowsToTheLongest) {
    FillWatch watch;
    double t = 0, last = 0;
    for (int i = 0; i < 20; ++i) {
        double delay = watch.record(t, 12.5);
        EXPECT_GE(delay, last);
        last = delay;
        t += delay;
    }
    EXPECT_EQ(last, FillWatch::kLongestDelay);
}

TEST(SnaphostFillWatch, TheFasterItFillsTheSoonerItLooksAgain) {
    double previous = FillWatch::kLongestDelay;
    for (double rate : {0.1, 1.0, 5.0, 20.0, 80.0}) {  // percent per second
        FillWatch watch;
        watch.record(0, 10);
        double delay = watch.record(1, 10 + rate);
        EXPECT_LE(delay, previous) << rate;
        previous = delay;
    }
    EXPECT_EQ(previous, FillWatch::kShortestDelay);
}

}  // namespace
