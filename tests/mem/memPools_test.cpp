#include "pisnp/pools.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "base/report.h"
#include "mem/poolShortcut.h"
#include "pisnp/traceFlags.h"
#include "support/allocTracker.h"

namespace {

using pisnp_test::AllocTracker;

// Catches the pools' numbered messages instead of the trace: their numbers, and the number
// inserts of the statistics lines (21161 heading: 2, 21162 per block: 3, 21163 totals: 4).
struct MessageCatcher {
    MessageCatcher() : saved(pisnp::report::installed()) {
        auto hooks = saved;
        hooks.message = [](const char*, unsigned, unsigned num, va_list args) {
            nums.push_back(num);
            if (num == 21161) stats.clear();
            if (num >= 21161 && num <= 21163) {
                stats.emplace_back();
                for (unsigned i = 0; i < num - 21159; ++i)
                    stats.back().push_back(va_arg(args, int));
            }
            return 0;
        };
        nums.clear();
        stats.clear();
        pisnp::report::install(hooks);
    }
    ~MessageCatcher() { pisnp::report::install(saved); }

    pisnp::report::Hooks saved;
    static inline std::vector<unsigned> nums;
    static inline std::vector<std::vector<long>> stats;
};

class Pools : public ::testing::Test {
  protected:
    void SetUp() override { restart(); }
    void TearDown() override {
        TR_MEMORY = 0;
        TEST_MEMPOOLSIMPLESEARCH = {};
        TEST_MEMPOOLSIZE = {};
        restart();
    }
    static void restart() {
        EXPECT_EQ(mpDestroyAll(), 0);
        mpPoolInit();
    }
    // Statistics of a pool, read as it is destroyed.
    static std::vector<std::vector<long>> destroyWithStats(mpHandle pool) {
        MessageCatcher catcher;
        TR_MEMORY = 1;
        ARCP_DESTROY(pool);
        TR_MEMORY = 0;
        return catcher.stats;
    }
};

TEST_F(Pools, HandlesCountUpAndTheLastDestroyedComesBackFirst) {
    EXPECT_EQ(ARCP_CREATE(4), 1);
    EXPECT_EQ(ARCP_CREATE(4), 2);
    EXPECT_EQ(ARCP_CREATE(4), 3);
    ARCP_DESTROY(2);
    ARCP_DESTROY(3);
    EXPECT_EQ(ARCP_CREATE(4), 3);
    EXPECT_EQ(ARCP_CREATE(4), 2);
    EXPECT_EQ(mpStatus(0), -1);
    EXPECT_EQ(mpStatus(520), -1);
    EXPECT_EQ(mpStatus(519), 0);

    // The peak follows the most pools alive at once, also after they are gone.
    int peak = mpGetPeakMP();
    std::vector<mpHandle> more;
    while (mpGetPeakMP() == peak) more.push_back(ARCP_CREATE(4));
    for (mpHandle h : more) ARCP_DESTROY(h);
    EXPECT_EQ(mpGetPeakMP(), peak + 1);
}

TEST_F(Pools, IncrementAndBlockSizeFollowTheRequestedKilobytes) {
    // sizeKB, incSize, blockSize
    for (auto [kb, inc, block] :
         {std::tuple{0, 2048L, 2024L}, {1, 2048, 2016}, {2, 2048, 2008}, {64, 65536, 65000}}) {
        mpHandle pool = ARCP_CREATE(kb);
        ASSERT_NE(mpAlloc(pool, 1), nullptr);
        EXPECT_EQ(destroyWithStats(pool),
                  (std::vector<std::vector<long>>{
                      {inc, 45}, {1, block, block - 8}, {24 + block, block, block - 8, 8}}));
    }
}

TEST_F(Pools, PiecesAreCarvedInEightsAndOversizeRequestsGetTheirOwnBlock) {
    mpHandle pool = ARCP_CREATE(2);
    auto* a = static_cast<char*>(mpAlloc(pool, 1));
    auto* b = static_cast<char*>(mpAlloc(pool, 7));
    auto* c = static_cast<char*>(mpAlloc(pool, 9));
    auto* d = static_cast<char*>(mpAlloc(pool, 1));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 8, 0u);
    EXPECT_EQ(b - a, 8);
    EXPECT_EQ(c - b, 8);
    EXPECT_EQ(d - c, 16);
    EXPECT_EQ(mpAlloc(pool, 0), nullptr);
    EXPECT_EQ(mpAlloc(pool, static_cast<size_t>(-5)), nullptr);  // negative as 32 bits

    ASSERT_NE(mpAlloc(pool, 3001), nullptr);
    auto stats = destroyWithStats(pool);
    ASSERT_EQ(stats.size(), 4u);
    EXPECT_EQ(stats[1], (std::vector<long>{1, 3008, 0}));  // the newest block comes first
    EXPECT_EQ(stats[2], (std::vector<long>{2, 2008, 2008 - 40}));

    // Empty strings share one constant and take nothing from the pool.
    pool = ARCP_CREATE(2);
    auto* first = static_cast<char*>(mpAlloc(pool, 8));
    EXPECT_EQ(mpStrDup(pool, ""), mpStrDup(ARCP_CREATE(2), ""));
    char* copy = mpStrDup(pool, "pool text");
    EXPECT_EQ(copy, first + 8);
    EXPECT_STREQ(copy, "pool text");
    EXPECT_EQ(mpAlloc(pool, 1), first + 24);

    mpPoolOverride();
    auto* own1 = static_cast<char*>(mpAlloc(pool, 8));
    auto* own2 = static_cast<char*>(mpAlloc(pool, 8));
    EXPECT_NE(own2, own1 + 8);
    EXPECT_EQ(destroyWithStats(pool).size(), 2u + 3u);  // the first block and two of their own
}

// The piece comes from the block with the least free space that still fits, whichever way the
// blocks are searched.
TEST_F(Pools, BestFitInBothSearchModes) {
    for (unsigned char simple : {0, 1}) {
        restart();
        TEST_MEMPOOLSIMPLESEARCH.on = simple;
        mpHandle pool = ARCP_CREATE(2);  // blocks of 2008 bytes
        auto alloc = [pool](size_t n) { return static_cast<char*>(mpAlloc(pool, n)); };
        char* a = alloc(1000);
        ASSERT_EQ(alloc(1008), a + 1000);  // A is full
        char* b = alloc(1000);
        ASSERT_EQ(alloc(704), b + 1000);  // B has 304 left
        char* c = alloc(1000);
        ASSERT_EQ(alloc(400), c + 1000);  // C has 608 left
        char* d = alloc(1000);
        EXPECT_EQ(alloc(1000), d + 1000) << int(simple);  // D drops to 8, behind B and C
        EXPECT_EQ(alloc(8), d + 2000) << int(simple);
        EXPECT_EQ(alloc(304), b + 1704) << int(simple);
        EXPECT_EQ(alloc(8), c + 1400) << int(simple);
    }
}

// Most requests skip the search and are carved from the newest block; the same requests with
// and without that shortcut put every piece at the same place of the same block and leave the
// same statistics.
TEST_F(Pools, ShortcutPutsEveryPieceWhereTheSearchDoes) {
    using Place = std::pair<size_t, long>;  // block in the order they were made, offset
    auto run = [](bool shortcut, unsigned seed) {
        bool was = pisnp::mem::testing::setPoolShortcut(shortcut);
        std::mt19937 rng(seed);
        mpHandle pool = ARCP_CREATE(2);
        std::map<char*, size_t> blocks;
        std::vector<Place> places;
        for (int i = 0; i < 3000; ++i) {
            int kind = rng() % 16;
            size_t size = kind == 0  ? 1 + rng() % 2100
                          : kind < 3 ? 1 + rng() % 600
                                     : 1 + rng() % 40;
            std::string text(size - 1, 'x');
            auto* p = static_cast<char*>(kind == 3 && size > 1 ? mpStrDup(pool, text.c_str())
                                                               : mpAlloc(pool, size));
            EXPECT_NE(p, nullptr);
            blocks.emplace(static_cast<char*>(mpGetShmPoolAddr(pool)), blocks.size());
            auto block = std::prev(blocks.upper_bound(p));
            places.emplace_back(block->second, p - block->first);
        }
        pisnp::mem::testing::setPoolShortcut(was);
        return std::pair{places, destroyWithStats(pool)};
    };
    for (unsigned seed : {1, 2, 3, 4}) EXPECT_EQ(run(true, seed), run(false, seed)) << seed;
}

TEST_F(Pools, FailedGrowthMarksThePoolFullUntilAnyPoolIsDestroyed) {
    mpHandle full = ARCP_CREATE(2);
    mpHandle other = ARCP_CREATE(2);
    {
        AllocTracker tracker;
        tracker.failAt(1);
        EXPECT_EQ(mpAlloc(full, 8), nullptr);
    }
    EXPECT_EQ(mpStatus(full), 1);
    EXPECT_EQ(mpStatus(other), 0);
    EXPECT_EQ(mpAlloc(full, 8), nullptr);  // no second try
    EXPECT_NE(mpAlloc(other, 8), nullptr);
    ARCP_DESTROY(ARCP_CREATE(2));
    EXPECT_EQ(mpStatus(full), 0);
    EXPECT_NE(mpAlloc(full, 8), nullptr);
}

TEST_F(Pools, UnknownHandlesAreRefused) {
    MessageCatcher catcher;
    ARCP_DESTROY(7);
    ARCP_DESTROY(0);
    EXPECT_EQ(catcher.nums, (std::vector<unsigned>{21153, 21153}));
}

// Other calls take a bad handle for the caller's programming error.
TEST(PoolsDeathTest, BadHandlesStopOnTheirAssertion) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    mpPoolInit();
    mpHandle pool = ARCP_CREATE(2);
    ARCP_DESTROY(pool);
    EXPECT_DEBUG_DEATH(mpAlloc(pool, 8), "poolP->incSize > 0");
    EXPECT_DEBUG_DEATH(mpStrDup(0, "x"), "handle >= 1");
    EXPECT_DEBUG_DEATH(mpGetShmPoolID(100000), "handle >= 1 && handle < PoolEntryCount");
}

TEST_F(Pools, SharedPoolLivesInOneSegment) {
    mpHandle pool = ARCP_CREATE(4);
    mpSetShmPoolBit(pool);
    EXPECT_EQ(mpGetShmPoolID(pool), -1);
    auto* piece = static_cast<char*>(mpAlloc(pool, 100));
    if (piece == nullptr) GTEST_SKIP() << "no System V shared memory here";
    auto* segment = static_cast<char*>(mpGetShmPoolAddr(pool));
    EXPECT_EQ(piece, segment + 24);
    EXPECT_NE(mpGetShmPoolID(pool), -1);
    EXPECT_EQ(mpAlloc(pool, 4096), nullptr);  // can never fit
    EXPECT_EQ(mpStatus(pool), 0);
    EXPECT_EQ(mpAlloc(pool, 3990), nullptr);  // would need a second segment
    EXPECT_EQ(mpStatus(pool), 1);
    ARCP_DESTROY(pool);
}

// Random work on several pools against a model of their live pieces, with allocations failing
// now and then: pieces never overlap and keep their contents, every pool's statistics add up to
// what it handed out, a pool refuses requests exactly while it is full, and nothing outlives
// mpDestroyAll.
TEST_F(Pools, ModelOfLivePiecesUnderFaults) {
    struct Piece {
        size_t size;
        mpHandle pool;
        unsigned char fill;
    };
    for (unsigned char simple : {0, 1}) {
        restart();
        AllocTracker tracker;
        TEST_MEMPOOLSIMPLESEARCH.on = simple;
        TEST_MEMPOOLSIZE = {1, 3, nullptr};  // small table steps: growth happens often
        std::mt19937 rng(7 + simple);
        std::map<uintptr_t, Piece> live;
        std::map<mpHandle, bool> pools;  // handle -> full
        for (int step = 0; step < 3000; ++step) {
            if (rng() % 8 == 0) tracker.failAt(1 + rng() % 3);
            unsigned long failuresBefore = tracker.failures();
            int op = rng() % 200;
            if (pools.empty() || op < 6) {
                mpHandle h = ARCP_CREATE(rng() % 3);
                ASSERT_TRUE(h > 0 || tracker.failures() > failuresBefore);
                if (h > 0) pools[h] = false;
            } else if (op < 10) {
                mpHandle h = std::next(pools.begin(), rng() % pools.size())->first;
                std::vector<std::vector<long>> stats = destroyWithStats(h);
                long used = 0;
                for (auto& [addr, p] : live)
                    if (p.pool == h) used += (p.size + 7) / 8 * 8;
                ASSERT_FALSE(stats.empty());
                EXPECT_EQ(stats.back()[3], used);
                EXPECT_EQ(stats.back()[0], 24 * long(stats.size() - 2) + stats.back()[1]);
                std::erase_if(live, [h](auto& piece) { return piece.second.pool == h; });
                pools.erase(h);
                for (auto& [handle, isFull] : pools) isFull = false;
            } else if (op < 11) {
                ASSERT_EQ(mpDestroyAll(), 0);
                EXPECT_EQ(tracker.live(), 0u);
                mpPoolInit();
                live.clear();
                pools.clear();
            } else {
                auto& [h, isFull] = *std::next(pools.begin(), rng() % pools.size());
                size_t size = rng() % 4 == 0 ? 1 + rng() % 2500 : 1 + rng() % 64;
                auto* p = static_cast<unsigned char*>(mpAlloc(h, size));
                bool failed = tracker.failures() > failuresBefore;
                ASSERT_EQ(p == nullptr, isFull || failed) << step;
                ASSERT_EQ(mpStatus(h), p == nullptr ? 1 : 0) << step;
                isFull = p == nullptr;
                if (p == nullptr) continue;
                auto at = reinterpret_cast<uintptr_t>(p);
                auto next = live.lower_bound(at);
                ASSERT_TRUE(next == live.end() || at + size <= next->first) << step;
                ASSERT_TRUE(next == live.begin() ||
                            std::prev(next)->first + std::prev(next)->second.size <= at);
                auto fill = static_cast<unsigned char>(step);
                std::memset(p, fill, size);
                live[at] = {size, h, fill};
            }
            tracker.failAt(0);
            if (step % 100 == 0)
                for (auto& [addr, piece] : live) {
                    auto* bytes = reinterpret_cast<unsigned char*>(addr);
                    ASSERT_EQ(std::count(bytes, bytes + piece.size, piece.fill), long(piece.size));
                }
        }
        EXPECT_EQ(mpDestroyAll(), 0);
        EXPECT_EQ(tracker.live(), 0u);
        mpPoolInit();
    }
}

TEST(PoolThreads, ConcurrentPoolsAndASharedOneStayApart) {
    mpPoolInit();
    mpHandle shared = ARCP_CREATE(4);
    ASSERT_GT(shared, 0);
    std::vector<std::thread> threads;
    std::vector<std::vector<char*>> pieces(4);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, shared, &mine = pieces[t]] {
            for (int round = 0; round < 20; ++round) {
                mpHandle own = ARCP_CREATE(2);
                for (int i = 0; i < 50; ++i) {
                    auto* p = static_cast<char*>(mpAlloc(i % 2 ? own : shared, 24));
                    ASSERT_NE(p, nullptr);
                    std::memset(p, 'a' + t, 24);
                    if (i % 2 == 0) mine.push_back(p);
                }
                ARCP_DESTROY(own);
            }
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < 4; ++t)
        for (char* p : pieces[t])
            for (int i = 0; i < 24; ++i) ASSERT_EQ(p[i], 'a' + t);
    ARCP_DESTROY(shared);
}

// The trace that a pool operation calls out to, with the pool lock held, may take pieces itself;
// afterwards the lock is free again.
TEST(PoolThreads, TheTraceMayComeBackForPieces) {
    std::thread([] {}).join();  // from now on every operation takes the lock
    mpPoolInit();
    static mpHandle traced, inner;
    traced = ARCP_CREATE(2);
    inner = ARCP_CREATE(2);
    auto saved = pisnp::report::installed();
    auto hooks = saved;
    hooks.message = [](const char*, unsigned, unsigned num, va_list) {
        if (num == 21158 && TR_MEMORY != 0) {
            TR_MEMORY = 0;
            EXPECT_NE(mpAlloc(inner, 8), nullptr);
            TR_MEMORY = 1;
        }
        return 0;
    };
    pisnp::report::install(hooks);
    TR_MEMORY = 1;
    EXPECT_NE(mpAlloc(traced, 8), nullptr);
    TR_MEMORY = 0;
    pisnp::report::install(saved);
    EXPECT_EQ(mpDestroyAll(), 0);
    mpPoolInit();
}

}  // namespace
