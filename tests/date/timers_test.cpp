#include "pisnp/timers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "support/allocTracker.h"

namespace {

using pisnp_test::AllocTracker;

// Moves a timer's start into the past, as if that many seconds had gone by.
void age(void* timer, time_t seconds) {
    static_cast<dsTimer_t*>(timer)->startTime -= seconds;
}

TEST(Timers, PopOncePerDurationAndRestart) {
    AllocTracker tracker;
    void* timer = dsCreateTimer();
    ASSERT_NE(timer, nullptr);
    EXPECT_FALSE(dsHasTimerPopped(timer)) << "a timer never started does not pop";
    age(timer, 100);
    EXPECT_FALSE(dsHasTimerPopped(timer));
    EXPECT_EQ(dsTimeRemaining(timer), 0);
    EXPECT_GE(dsElapsedTime(timer), 100);

    dsStartTimer(timer, 2);
    EXPECT_FALSE(dsHasTimerPopped(timer));
    EXPECT_GT(dsTimeRemaining(timer), 0);
    EXPECT_LE(dsTimeRemaining(timer), 2);
    age(timer, 2);
    EXPECT_TRUE(dsHasTimerPopped(timer));
    EXPECT_FALSE(dsHasTimerPopped(timer)) << "popping restarts the timer";
    EXPECT_LT(dsElapsedTime(timer), 2);
    age(timer, 10);
    EXPECT_EQ(dsTimeRemaining(timer), 0) << "never below 0 past its duration";
    EXPECT_TRUE(dsHasTimerPopped(timer));

    dsStopTimer(timer);
    age(timer, 10);
    EXPECT_FALSE(dsHasTimerPopped(timer));
    EXPECT_EQ(dsTimeRemaining(timer), 0);

    dsStartTimer(timer, 0);
    age(timer, 10);
    EXPECT_FALSE(dsHasTimerPopped(timer)) << "a duration of 0 never pops";

    dsDestroyTimer(timer);
    EXPECT_EQ(tracker.live(), 0u);
}

TEST(Timers, NullTimerIsHarmless) {
    dsStartTimer(nullptr, 1);
    dsStopTimer(nullptr);
    dsDestroyTimer(nullptr);
    EXPECT_FALSE(dsHasTimerPopped(nullptr));
    EXPECT_EQ(dsElapsedTime(nullptr), 0);
    EXPECT_EQ(dsTimeRemaining(nullptr), 0);
    AllocTracker tracker;
    tracker.failAt(1);
    EXPECT_EQ(dsCreateTimer(), nullptr);
}

TEST(Timers, FormatTimeDropsFractionAndLeavesHoursUnbounded) {
    unsigned h = 9, m = 9, s = 9;
    dsFormatTime(3725.9, &h, &m, &s);
    EXPECT_EQ(h * 10000 + m * 100 + s, 10205u);
    dsFormatTime(59.999, &h, &m, &s);
    EXPECT_EQ(h * 10000 + m * 100 + s, 59u);
    dsFormatTime(1000 * 3600.0 + 61, &h, &m, &s);
    EXPECT_EQ(h, 1000u);
    EXPECT_EQ(m * 100 + s, 101u);
    dsFormatTime(-5, &h, &m, &s);
    EXPECT_EQ(h + m + s, 0u);
}

TEST(Timers, SubTodCountsMicrosecondsAcrossMidnight) {
    timeval now{1, 0}, start{86399, 500000};
    EXPECT_EQ(SubTod(&now, &start), 1500000.0);
    EXPECT_EQ(now.tv_sec, 86401) << "the day added stays in the caller's reading";

    timeval later{10, 200000}, earlier{9, 900000};
    EXPECT_EQ(SubTod(&later, &earlier), 300000.0);
    EXPECT_EQ(later.tv_sec, 10);
}

TEST(Timers, CalcElapsedTimeFillsOnlyTimeBytes) {
    unsigned char date[7];
    std::memset(date, 0xAA, sizeof date);
    timeval start, now{};
    GetTod(&start);
    start.tv_sec -= 3725;
    dsTimerCalcElapsedTime(reinterpret_cast<nfDate*>(date), &now, &start);
    EXPECT_GE(now.tv_sec, start.tv_sec + 3725) << "now is read by the call";
    EXPECT_EQ(date[4], 1);
    EXPECT_EQ(date[5], 2);
    EXPECT_EQ(date[6], 5);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(date[i], 0xAA) << i;

    GetTod(&start);
    start.tv_sec -= 300 * 3600;
    dsTimerCalcElapsedTime(reinterpret_cast<nfDate*>(date), &now, &start);
    EXPECT_EQ(date[4], 300 % 256) << "hours keep only their low byte";
}

// Records the events of one arcSleep and answers SLEEP_CANCEL at the chosen poll.
struct SleepLog {
    int cancelAtPoll = 0;  // 0: never
    int polls = 0;
    std::vector<short> events;
    std::vector<void*> timers;

    static int callback(short event, void* timer, void* self) {
        auto* log = static_cast<SleepLog*>(self);
        log->events.push_back(event);
        log->timers.push_back(timer);
        if (event != SLEEP_EVENT_POLL) return 0;
        ++log->polls;
        if (log->polls == log->cancelAtPoll) return SLEEP_CANCEL;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return 0;
    }
};

TEST(Timers, SleepCallbackCancelsAtFirstPoll) {
    AllocTracker tracker;
    SleepLog log;
    log.cancelAtPoll = 1;
    EXPECT_EQ(arcSleep(60, SleepLog::callback, &log), 0);
    EXPECT_EQ(log.events, (std::vector<short>{0, 1, 3}));
    EXPECT_NE(log.timers[0], nullptr);
    EXPECT_EQ(log.timers[0], log.timers[2]);
    EXPECT_EQ(tracker.live(), 0u);
}

TEST(Timers, SleepRunsOutWhenCallbackNeverCancels) {
    SleepLog log;
    auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(arcSleep(1, SleepLog::callback, &log), 1);
    auto took = std::chrono::steady_clock::now() - begin;
    EXPECT_LT(took, std::chrono::seconds(3));
    ASSERT_GE(log.events.size(), 6u);
    EXPECT_EQ((std::vector<short>(log.events.begin(), log.events.begin() + 4)),
              (std::vector<short>{0, 1, 2, 5}));
    EXPECT_EQ((std::vector<short>(log.events.end() - 3, log.events.end())),
              (std::vector<short>{5, 2, 4}))
        << "the last round has no poll";
}

TEST(Timers, SleepOfZeroSecondsLastsUntilCallbackCancels) {
    SleepLog log;
    log.cancelAtPoll = 4;
    EXPECT_EQ(arcSleep(0, SleepLog::callback, &log), 0);
    EXPECT_EQ(log.polls, 4);
    EXPECT_EQ(log.events.back(), SLEEP_EVENT_CANCELLED);
}

TEST(Timers, SleepCallbackStillRunsWithoutMemoryForTimer) {
    AllocTracker tracker;
    tracker.failAt(1);
    SleepLog log;
    log.cancelAtPoll = 3;
    EXPECT_EQ(arcSleep(1, SleepLog::callback, &log), 0);
    EXPECT_EQ(log.timers[0], nullptr);
    EXPECT_EQ(log.polls, 3);
    EXPECT_EQ(tracker.live(), 0u);
}

}  // namespace
