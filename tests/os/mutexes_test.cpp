#include "base/sysCalls.h"
#include "pisnp/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "mutexTestSupport.h"
#include "pisnp/pkMutex.h"

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

TEST(Mutexes, MutexWithoutAttributesIsRecursive) {
    pthread_mutex_t m;
    char name[] = "test";
    ASSERT_EQ(psMutexInit(&m, nullptr, name), 0);
    EXPECT_EQ(psMutexLock(&m, 0), 0);
    EXPECT_EQ(psMutexLock(&m, 0), 0);
    EXPECT_EQ(psMutexTryLock(&m), 0);
    EXPECT_EQ(psMutexUnlock(&m), 0);
    EXPECT_EQ(psMutexUnlock(&m), 0);
    EXPECT_EQ(psMutexUnlock(&m), 0);
    EXPECT_EQ(psMutexDestroy(&m), 0);
}

TEST(Mutexes, MutexReportsDeadlockAndBusy) {
    pthread_mutex_t m;
    ASSERT_EQ(initErrorCheckingMutex(&m), 0);

    ASSERT_EQ(psMutexLock(&m, 0), 0);
    EXPECT_EQ(psMutexLock(&m, 0), 936);
    int fromOther = 0;
    std::thread([&] { fromOther = psMutexTryLock(&m); }).join();
    EXPECT_EQ(fromOther, 932);
    EXPECT_EQ(psMutexUnlock(&m), 0);
    std::thread([&] {
        fromOther = psMutexTryLock(&m);
        if (fromOther == 0) psMutexUnlock(&m);
    }).join();
    EXPECT_EQ(fromOther, 0);
    EXPECT_EQ(psMutexDestroy(&m), 0);
}

struct Waited {
    int rc;
    Clock::duration took;
};

// One timed wait on a fresh condition; `meanwhile` runs in another thread during it.
template <typename F>
Waited timedWait(int ms, volatile int* flag, F meanwhile) {
    pthread_mutex_t m;
    pthread_cond_t c;
    arcMutexInit(&m, nullptr);
    psCreateCondition(&c);
    std::atomic<bool> done{false};
    std::thread helper([&] { meanwhile(m, c, done); });
    psMutexLock(&m, 0);
    auto begin = Clock::now();
    int rc = psTimedWaitCondition(&c, &m, ms, flag);
    auto took = Clock::now() - begin;
    done = true;
    psMutexUnlock(&m);
    helper.join();
    psDestroyCondition(&c);
    psMutexDestroy(&m);
    return {rc, took};
}

void idle(pthread_mutex_t&, pthread_cond_t&, std::atomic<bool>&) {}

TEST(Conditions, CondTimedWaitEndsAtDeadlineWithOrWithoutFlag) {
    volatile int flag = 1;
    Waited set = timedWait(100, &flag, idle);
    EXPECT_EQ(set.rc, 0) << "the flag was set all along";
    EXPECT_GE(set.took, milliseconds(90)) << "but nobody signalled: the whole time passes";

    flag = 0;
    Waited unset = timedWait(100, &flag, idle);
    EXPECT_EQ(unset.rc, 964);
    EXPECT_GE(unset.took, milliseconds(90));

    EXPECT_EQ(timedWait(100, nullptr, idle).rc, 964);
    EXPECT_EQ(timedWait(-5, &flag, idle).rc, 964) << "a deadline in the past";
    // A start late in its second needs a carry from the nanoseconds into the seconds.
    pisnp::sys::Override lateInTheSecond(
        &pisnp::sys::Table::gettimeofday, +[](timeval* tv, void*) {
            int rc = pisnp::sys::real().gettimeofday(tv, nullptr);
            tv->tv_sec -= 1;
            tv->tv_usec = 999000;
            return rc;
        });
    flag = 1;
    EXPECT_EQ(timedWait(5, &flag, idle).rc, 0);
}

TEST(Conditions, CondTimedWaitIgnoresWakeUpsWithoutFlag) {
    volatile int flag = 0;
    auto nag = [](pthread_mutex_t& m, pthread_cond_t& c, std::atomic<bool>& done) {
        while (!done) {
            psMutexLock(&m, 0);
            psSignalCondition(&c);
            psMutexUnlock(&m);
            std::this_thread::sleep_for(milliseconds(5));
        }
    };
    Waited w = timedWait(150, &flag, nag);
    EXPECT_EQ(w.rc, 964);
    EXPECT_GE(w.took, milliseconds(140));
}

TEST(Conditions, CondTimedWaitReturnsWhenFlagSetAndSignalled) {
    volatile int flag = 0;
    auto raise = [&flag](pthread_mutex_t& m, pthread_cond_t& c, std::atomic<bool>&) {
        std::this_thread::sleep_for(milliseconds(30));
        psMutexLock(&m, 0);
        flag = 1;
        psSignalCondition(&c);
        psMutexUnlock(&m);
    };
    Waited w = timedWait(10000, &flag, raise);
    EXPECT_EQ(w.rc, 0);
    EXPECT_LT(w.took, milliseconds(5000));
}

TEST(PkMutex, MutexOperationsShareOneHandleAndNeverBlock) {
    MutexDesc* a = pkCreateMutex();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(pkCreateMutex(), a);
    EXPECT_EQ(pkAcquireMutex(a), 0);
    EXPECT_EQ(pkAcquireMutex(a), 0) << "taking it twice must not block";
    EXPECT_EQ(pkAcquireMutexNested(a), 0);
    int fromOther = -1;
    std::thread([&] { fromOther = pkAcquireMutex(a); }).join();
    EXPECT_EQ(fromOther, 0);
    EXPECT_EQ(pkReleaseMutexNested(a), 0);
    EXPECT_EQ(pkReleaseMutex(a), 0);
    EXPECT_EQ(pkDestroyMutex(a), 0);
    pkTSD_callCleanUps();
}

}  // namespace
