// The process's return code: which messages raise which code, how the three maxima move
// together and apart, and that concurrent callers lose no rise.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "pisnp/alloc.h"
#include "pisnp/globalRC.h"
#include "pisnp/traceFlags.h"
#include "support/messageSystem.h"

namespace {

// Catalog messages of each severity (the warning list holds 1086; 1190 is a W message, which
// counts as an error; 1191 an E; 0361 an I).
constexpr int kListedWarning = 1086;
constexpr int kWarningSeverity = 1190;
constexpr int kErrorSeverity = 1191;
constexpr int kInformation = 361;

class GlobalRCTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(pisnp_test::startMessages()); }
    void TearDown() override { TEST_AUDITLOGRC.on = 0; }
    void expectCodes(GlobalRC& rc, int now, int macro, int max) {
        EXPECT_EQ(rc.get(), now);
        EXPECT_EQ(rc.getMacroMax(), macro);
        EXPECT_EQ(rc.getMax(), max);
    }
};

TEST_F(GlobalRCTest, CodesRiseToTheWorstMessageAndClearFromTheBottomUp) {
    GlobalRC rc;
    EXPECT_EQ(rc.set(kInformation), 0) << "information changes nothing";
    expectCodes(rc, 0, 0, 0);
    EXPECT_EQ(rc.set(kListedWarning), 1);
    EXPECT_EQ(rc.set(kErrorSeverity), 1);
    EXPECT_EQ(rc.set(kWarningSeverity), 0) << "8 is below 12";
    expectCodes(rc, 12, 12, 12);

    rc.clearMacroRC();
    EXPECT_EQ(rc.set(kListedWarning), 1);
    expectCodes(rc, 4, 4, 12);
    rc.clearRC();
    EXPECT_EQ(rc.set(kWarningSeverity), 1);
    expectCodes(rc, 8, 8, 12);
    EXPECT_EQ(rc.set(9999), 1);
    expectCodes(rc, 12, 12, 12);

    EXPECT_EQ(rc.overrideMaxRCs(0), 1);
    expectCodes(rc, 0, 0, 0);
    rc.overrideMaxRCs(8);
    rc.clearAllRC();
    expectCodes(rc, 0, 0, 0);
}

// Every number maps to one of the four codes, and the maxima never cross.
TEST_F(GlobalRCTest, AnyMessageNumberKeepsTheCodesOrdered) {
    GlobalRC rc;
    for (int msgNum = 0; msgNum < 15000; msgNum += 7) {
        if (msgNum % 700 == 0) rc.clearRC();
        if (msgNum % 2100 == 0) rc.clearMacroRC();
        rc.set(msgNum);
        int now = rc.get(), macro = rc.getMacroMax(), max = rc.getMax();
        ASSERT_TRUE(now == 0 || now == 4 || now == 8 || now == 12) << msgNum;
        ASSERT_LE(now, macro) << msgNum;
        ASSERT_LE(macro, max) << msgNum;
    }
}

TEST_F(GlobalRCTest, AuditLogFailureTakesTheTestFlagsCode) {
    GlobalRC plain;
    plain.set(2046);
    EXPECT_EQ(plain.get(), 12);

    TEST_AUDITLOGRC.on = 1;
    TEST_AUDITLOGRC.value = 4;
    GlobalRC flagged;
    flagged.set(2046);
    EXPECT_EQ(flagged.get(), 4);

    TEST_AUDITLOGRC.value = 0;
    GlobalRC noValue;
    noValue.set(2046);
    EXPECT_EQ(noValue.get(), 8);
}

TEST_F(GlobalRCTest, WithoutAMutexCodesStillReadButDoNotRise) {
    GlobalRC rc;
    rc.set(kErrorSeverity);
    MutexDesc* saved = rc.mutex;
    rc.mutex = nullptr;
    EXPECT_EQ(rc.set(9999), 0);
    EXPECT_EQ(rc.overrideMaxRCs(0), 0);
    EXPECT_EQ(rc.get(), 12);
    EXPECT_EQ(rc.clearAllRC(), 1) << "a clear goes on without the lock";
    EXPECT_EQ(rc.getMax(), 0);
    rc.mutex = saved;
}

TEST_F(GlobalRCTest, InstanceIsMadeOnceAndForgottenWhenDestroyed) {
    GlobalRC* first = GlobalRC::Instance();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GlobalRC::Instance(), first);
    EXPECT_EQ(GlobalRC::instanceP, first);
    first->~GlobalRC();
    arcFree(first, "test", 0);
    EXPECT_EQ(GlobalRC::instanceP, nullptr);
}

TEST_F(GlobalRCTest, ThreadsRaisingTogetherLeaveTheWorstCode) {
    GlobalRC rc;
    std::vector<std::thread> threads;
    const int numbers[] = {kInformation, kListedWarning, kWarningSeverity, kErrorSeverity};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&rc, n = numbers[t]] {
            for (int i = 0; i < 2000; ++i) {
                rc.set(n);
                if (i % 500 == 0) rc.clearRC();
            }
        });
    for (auto& t : threads) t.join();
    rc.set(kErrorSeverity);
    EXPECT_EQ(rc.getMax(), 12);
    EXPECT_EQ(rc.get(), 12);
}

}  // namespace
