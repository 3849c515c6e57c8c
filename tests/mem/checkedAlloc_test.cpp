#include "mem/checkedAlloc.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "support/allocTracker.h"

namespace {

using pisnp_test::AllocTracker;

unsigned char* raw(void* p) {
    return static_cast<unsigned char*>(p) - 16;
}

unsigned int word(const unsigned char* at) {
    unsigned int w;
    std::memcpy(&w, at, 4);
    return w;
}

uint64_t total(void* p) {
    uint64_t t;
    std::memcpy(&t, raw(p) + 8, 8);
    return t;
}

TEST(CheckedAlloc, FramesBlockWithMagicLengthAndTrailer) {
    for (size_t n : {size_t{0}, size_t{1}, size_t{13}, size_t{64}}) {
        void* p = arcMalloc(n, "t.cpp", 1);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(word(raw(p)), 0xABCDDCBAu);
        EXPECT_EQ(total(p), n + 20);
        EXPECT_EQ(word(static_cast<unsigned char*>(p) + n), 0xABCDDCBAu) << n;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(std::max_align_t), 0u);
        EXPECT_EQ(chkSnake(p, "t.cpp", 2), 0);
        arcFree(p, "t.cpp", 3);
    }
}

TEST(CheckedAlloc, CallocZeroesWholeRawBlockAndUsesProduct) {
    auto* p = static_cast<unsigned char*>(arcCalloc(7, 3, "t.cpp", 1));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(total(p), 21u + 20u);
    EXPECT_EQ(word(raw(p) + 4), 0u);
    for (int i = 0; i < 21; ++i) EXPECT_EQ(p[i], 0) << i;
    EXPECT_EQ(chkSnake(p, "t.cpp", 2), 0);
    arcFree(p, "t.cpp", 3);
}

TEST(CheckedAlloc, RefusesOverwrittenTrailerAndKeepsBlock) {
    AllocTracker tracker;
    auto* p = static_cast<unsigned char*>(arcMalloc(8, "t.cpp", 1));
    ASSERT_NE(p, nullptr);
    unsigned char saved = p[8];
    p[8] = 'x';  // one byte past the caller's end
    EXPECT_EQ(chkSnake(p, "t.cpp", 2), -1);
    arcFree(p, "t.cpp", 3);
    EXPECT_EQ(tracker.live(), 1u) << "a damaged block must not be released";
    EXPECT_EQ(arcRealloc(p, 100, "t.cpp", 4), nullptr);
    EXPECT_EQ(p[8], 'x');
    p[8] = saved;
    arcFree(p, "t.cpp", 5);
    EXPECT_EQ(tracker.live(), 0u);
}

TEST(CheckedAlloc, RefusesOverwrittenHeaderWithoutLookingAtTrailer) {
    AllocTracker tracker;
    auto* p = static_cast<unsigned char*>(arcMalloc(8, "t.cpp", 1));
    ASSERT_NE(p, nullptr);
    unsigned char header[16];
    std::memcpy(header, raw(p), 16);
    raw(p)[0] ^= 0xFF;
    // A huge length would send a trailer check far outside the block; it must not be read.
    uint64_t bogus = UINT64_MAX / 2;
    std::memcpy(raw(p) + 8, &bogus, 8);
    EXPECT_EQ(chkSnake(p, "t.cpp", 2), -1);
    arcFree(p, "t.cpp", 3);
    EXPECT_EQ(tracker.live(), 1u);
    std::memcpy(raw(p), header, 16);
    arcFree(p, "t.cpp", 4);
    EXPECT_EQ(tracker.live(), 0u);
}

TEST(CheckedAlloc, RefusesBlockCarryingReleasedMark) {
    AllocTracker tracker;
    auto* p = static_cast<unsigned char*>(arcMalloc(5, "t.cpp", 1));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(SetDeleteMagicValue(p), 0);
    EXPECT_EQ(word(raw(p)), 0xDEADDEADu);
    EXPECT_EQ(word(p + 5), 0xDEADDEADu);
    EXPECT_EQ(chkSnake(p, "t.cpp", 2), -1);
    arcFree(p, "t.cpp", 3);  // presented again: refused, not freed a second time
    EXPECT_EQ(arcRealloc(p, 9, "t.cpp", 4), nullptr);
    EXPECT_EQ(tracker.live(), 1u);
    unsigned int live = 0xABCDDCBAu;
    std::memcpy(raw(p), &live, 4);
    std::memcpy(p + 5, &live, 4);
    arcFree(p, "t.cpp", 5);
    EXPECT_EQ(tracker.live(), 0u);
    EXPECT_EQ(SetDeleteMagicValue(nullptr), 0);
}

TEST(CheckedAlloc, NullPointersAreHarmless) {
    EXPECT_EQ(chkSnake(nullptr, "t.cpp", 1), 0);
    arcFree(nullptr, "t.cpp", 2);
    void* p = arcRealloc(nullptr, 12, "t.cpp", 3);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(total(p), 32u);
    arcFree(p, "t.cpp", 4);
    arcNativeFree(nullptr);
    void* n = arcNativeMalloc(10);
    ASSERT_NE(n, nullptr);
    arcNativeFree(n);
    EXPECT_EQ(ArcPoolCheck(), 0);
    arcFreeMemoryList();
}

TEST(CheckedAlloc, ReallocKeepsContentsAndReframes) {
    auto* p = static_cast<char*>(arcMalloc(4, "t.cpp", 1));
    ASSERT_NE(p, nullptr);
    std::memcpy(p, "abcd", 4);
    auto* q = static_cast<char*>(arcRealloc(p, 4000, "t.cpp", 2));
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(std::memcmp(q, "abcd", 4), 0);
    EXPECT_EQ(total(q), 4020u);
    EXPECT_EQ(chkSnake(q, "t.cpp", 3), 0);
    q = static_cast<char*>(arcRealloc(q, 2, "t.cpp", 4));
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(std::memcmp(q, "ab", 2), 0);
    EXPECT_EQ(chkSnake(q, "t.cpp", 5), 0);
    arcFree(q, "t.cpp", 6);
}

TEST(CheckedAlloc, FailedReallocKeepsOldBlockLiveAndReleasable) {
    AllocTracker tracker;
    auto* p = static_cast<char*>(arcMalloc(6, "t.cpp", 1));
    ASSERT_NE(p, nullptr);
    std::memcpy(p, "hello", 6);
    tracker.failAt(1);
    EXPECT_EQ(arcRealloc(p, 1 << 20, "t.cpp", 2), nullptr);
    EXPECT_EQ(chkSnake(p, "t.cpp", 3), 0);
    EXPECT_STREQ(p, "hello");
    arcFree(p, "t.cpp", 4);
    EXPECT_EQ(tracker.live(), 0u);
}

TEST(CheckedAlloc, OversizedRequestsFailCleanly) {
    EXPECT_EQ(arcMalloc(SIZE_MAX - 5, "t.cpp", 1), nullptr);
    EXPECT_EQ(arcCalloc(SIZE_MAX / 2, 3, "t.cpp", 2), nullptr);
    void* p = arcMalloc(1, "t.cpp", 3);
    EXPECT_EQ(arcRealloc(p, SIZE_MAX - 1, "t.cpp", 4), nullptr);
    EXPECT_EQ(chkSnake(p, "t.cpp", 5), 0);
    arcFree(p, "t.cpp", 6);
}

std::vector<char> gHandlerCalls;
int gNoMemAnswer = 0;
int noMem() {
    gHandlerCalls.push_back('n');
    return gNoMemAnswer;
}
int onAbort() {
    gHandlerCalls.push_back('a');
    return 0;
}

class Handlers : public ::testing::Test {
  protected:
    void SetUp() override {
        gHandlerCalls.clear();
        arcSetNoMemHandler(noMem);
        arcSetAbortHandler(onAbort);
    }
    void TearDown() override {
        arcSetNoMemHandler(nullptr);
        arcSetAbortHandler(nullptr);
    }
    AllocTracker tracker;
};

TEST_F(Handlers, NoMemoryHandlerOnceThenAbortOnlyOnAnswerTwo) {
    gNoMemAnswer = 1;
    tracker.failAt(1);
    EXPECT_EQ(arcMalloc(10, "t.cpp", 1), nullptr);
    EXPECT_EQ(gHandlerCalls, std::vector<char>({'n'}));

    gHandlerCalls.clear();
    gNoMemAnswer = 2;
    tracker.failAt(1);
    EXPECT_EQ(arcCalloc(2, 10, "t.cpp", 2), nullptr);
    EXPECT_EQ(gHandlerCalls, std::vector<char>({'n', 'a'}));

    gHandlerCalls.clear();
    tracker.failAt(1);
    void* p = arcMalloc(3, "t.cpp", 3);
    ASSERT_EQ(p, nullptr);
    EXPECT_EQ(gHandlerCalls, std::vector<char>({'n', 'a'})) << "no retry after the handlers";
    EXPECT_EQ(tracker.live(), 0u);
}

TEST_F(Handlers, SizeZeroFailureCallsNoHandler) {
    gNoMemAnswer = 2;
    tracker.failAt(1);
    EXPECT_EQ(arcMalloc(0, "t.cpp", 1), nullptr);
    tracker.failAt(1);
    EXPECT_EQ(arcCalloc(5, 0, "t.cpp", 2), nullptr);
    EXPECT_TRUE(gHandlerCalls.empty());
}

TEST_F(Handlers, CallocTestsElementSizeAndReallocRunsHandlers) {
    gNoMemAnswer = 2;
    tracker.failAt(1);
    EXPECT_EQ(arcCalloc(0, 8, "t.cpp", 1), nullptr);  // element size 8 is what is tested
    EXPECT_EQ(gHandlerCalls, std::vector<char>({'n', 'a'}));
    gHandlerCalls.clear();
    void* p = arcMalloc(4, "t.cpp", 2);
    tracker.failAt(1);
    EXPECT_EQ(arcRealloc(p, 40, "t.cpp", 3), nullptr);
    EXPECT_EQ(gHandlerCalls, std::vector<char>({'n', 'a'}));
    arcFree(p, "t.cpp", 4);
}

TEST(AllocTracker, FailsFromNthOnwardWhenAsked) {
    AllocTracker tracker;
    tracker.failAt(2, true);
    void* a = arcMalloc(1, "t.cpp", 1);
    EXPECT_NE(a, nullptr);
    EXPECT_EQ(arcMalloc(1, "t.cpp", 2), nullptr);
    EXPECT_EQ(arcMalloc(1, "t.cpp", 3), nullptr);
    EXPECT_EQ(tracker.failures(), 2u);
    arcFree(a, "t.cpp", 4);
    EXPECT_EQ(tracker.live(), 0u);
}

}  // namespace
