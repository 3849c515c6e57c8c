#include "pisnp/threads.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "support/allocTracker.h"

namespace {

using pisnp_test::AllocTracker;
using std::chrono::milliseconds;

// Polls until the registry says tid has ended; false after five seconds.
bool waitUntilNotAlive(pthread_t tid) {
    for (int i = 0; i < 5000; ++i) {
        if (psIsThreadAlive(tid, 0) == 0) return true;
        std::this_thread::sleep_for(milliseconds(1));
    }
    return false;
}

ThreadCreate describe(void* (*func)(void*), void* arg, pthread_t* tid) {
    ThreadCreate desc{};
    desc.threadId = tid;
    desc.startFunc = func;
    desc.arg = arg;
    return desc;
}

struct Gate {
    std::promise<void> started, release;
    std::atomic<int> wasMain{-1};
};

void* exitWhenReleased(void* arg) {
    auto* gate = static_cast<Gate*>(arg);
    gate->wasMain = psIsMainThread();
    auto release = gate->release.get_future();
    gate->started.set_value();
    release.wait();
    psThreadExit(nullptr);
}

TEST(Threads, ThreadRegistryFollowsCreationAndExit) {
    EXPECT_EQ(psIsMainThread(), 1);
    EXPECT_NE(psThreadEqual(psGetMainThreadId(), pthread_self()), 0);
    EXPECT_EQ(psGetMainPID(), getpid());
    EXPECT_EQ(psIsThreadAlive(psGetMainThreadId(), 0), 1) << "entered at load";
    EXPECT_EQ(psThreadCreate(nullptr), 109);

    Gate gate;
    pthread_t tid{};
    ThreadCreate desc = describe(exitWhenReleased, &gate, &tid);
    auto started = gate.started.get_future();
    ASSERT_EQ(psThreadCreate(&desc), 0);
    started.wait();
    EXPECT_EQ(gate.wasMain, 0);
    EXPECT_EQ(psIsThreadAlive(tid, 0), 1);

    gate.release.set_value();
    ASSERT_TRUE(waitUntilNotAlive(tid));
    EXPECT_EQ(psThreadKill(tid, 0), 0) << "an ended thread is not signalled";

    const unsigned long unknown = 0x5eed1234;
    EXPECT_EQ(psIsThreadAlive(unknown, 0), 0);
    EXPECT_EQ(psIsThreadAlive(unknown, 0), 0) << "entered as not alive, stays so";
    EXPECT_EQ(psThreadKill(unknown, 0), 0);
}

void* exitAtOnce(void*) {
    psThreadExit(nullptr);
}

TEST(Threads, ThreadEndingBeforeItIsRegisteredIsNotLeftAlive) {
    // Each thread may end before its creator registers it; it must still end up not alive.
    for (int i = 0; i < 100; ++i) {
        pthread_t tid{};
        ThreadCreate desc = describe(exitAtOnce, nullptr, &tid);
        ASSERT_EQ(psThreadCreate(&desc), 0);
        ASSERT_TRUE(waitUntilNotAlive(tid)) << "round " << i;

        ThreadCreate api = describe(exitAtOnce, nullptr, &tid);
        ASSERT_EQ(psAPIthreadCreate(&api, const_cast<char*>("quick")), 0);
        ASSERT_TRUE(waitUntilNotAlive(tid)) << "api round " << i;
    }
}

void* joinableBody(void* arg) {
    return arg;
}

TEST(Threads, ThreadAttributesDecideJoinability) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_JOINABLE);
    int detached = 1;
    int value = 7;
    pthread_t tid{};
    ThreadCreate desc = describe(joinableBody, &value, &tid);
    desc.attr = &attr;
    desc.detached = &detached;
    ASSERT_EQ(psThreadCreate(&desc), 0);
    EXPECT_EQ(detached, 0);
    void* result = nullptr;
    ASSERT_EQ(pthread_join(tid, &result), 0);
    EXPECT_EQ(result, &value);

    int state = -1;
    EXPECT_EQ(psThread_attr_getdetachstate(&attr, &state), 0);
    EXPECT_EQ(state, PTHREAD_CREATE_JOINABLE);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    detached = 1;
    Gate gate;
    desc = describe(exitWhenReleased, &gate, &tid);
    desc.attr = &attr;
    desc.detached = &detached;
    auto started = gate.started.get_future();
    ASSERT_EQ(psThreadCreate(&desc), 0);
    started.wait();
    EXPECT_EQ(detached, 1);
    gate.release.set_value();
    EXPECT_TRUE(waitUntilNotAlive(tid));
    pthread_attr_destroy(&attr);
}

void* deliver(void* arg) {
    static_cast<std::promise<void*>*>(arg)->set_value(arg);
    return nullptr;
}

TEST(Threads, ApiThreadPassesArgumentAndReleasesItsWrapper) {
    AllocTracker tracker;
    std::promise<void*> got;
    auto arg = got.get_future();
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_JOINABLE);
    pthread_t tid{};
    ThreadCreate desc = describe(deliver, &got, &tid);
    desc.attr = &attr;
    ASSERT_EQ(psAPIthreadCreate(&desc, const_cast<char*>("worker")), 0);
    EXPECT_EQ(arg.get(), &got);
    void* result = &result;
    ASSERT_EQ(pthread_join(tid, &result), 0);
    EXPECT_EQ(result, nullptr) << "the start function's own result";
    EXPECT_EQ(psIsThreadAlive(tid, 0), 1) << "only psThreadExit marks a thread completed";
    EXPECT_EQ(tracker.live(), 0u);
    pthread_attr_destroy(&attr);

    tracker.failAt(1);
    ThreadCreate refused = describe(deliver, &got, &tid);
    EXPECT_EQ(psAPIthreadCreate(&refused, const_cast<char*>("worker")), -1);
    EXPECT_EQ(refused.startFunc, deliver);
    EXPECT_EQ(refused.arg, &got);
    EXPECT_EQ(psAPIthreadCreate(nullptr, nullptr), 109);
    EXPECT_EQ(tracker.live(), 0u);
}

std::atomic<bool> spinning{false};
std::atomic<bool> stopSpinning{false};

void* spinUntilStopped(void*) {
    spinning = true;
    while (!stopSpinning) psThreadDelay(5);
    psThreadExit(reinterpret_cast<void*>(1));
}

// Starts spinUntilStopped in a joinable thread through psAPIthreadCreate, with handler
// installed for the thread-stop signal.
class SpinningThread {
  public:
    explicit SpinningThread(void (*handler)(int)) {
        struct sigaction action {};
        action.sa_handler = handler;
        sigemptyset(&action.sa_mask);
        sigaction(SIGUSR1, &action, &old_);
        pthread_attr_init(&attr_);
        pthread_attr_setdetachstate(&attr_, PTHREAD_CREATE_JOINABLE);
        ThreadCreate desc = describe(spinUntilStopped, nullptr, &tid_);
        desc.attr = &attr_;
        spinning = false;
        stopSpinning = false;
        started_ = psAPIthreadCreate(&desc, const_cast<char*>("spinner")) == 0;
        while (started_ && !spinning) std::this_thread::sleep_for(milliseconds(1));
    }
    // Lets the thread go (should it still run) and collects its result.
    void* join() {
        stopSpinning = true;
        void* result = nullptr;
        if (started_) pthread_join(tid_, &result);
        started_ = false;
        return result;
    }
    ~SpinningThread() {
        join();
        pthread_attr_destroy(&attr_);
        sigaction(SIGUSR1, &old_, nullptr);
    }
    bool started() const { return started_; }
    pthread_t tid() const { return tid_; }

  private:
    struct sigaction old_ {};
    pthread_attr_t attr_;
    pthread_t tid_{};
    bool started_ = false;
};

std::atomic<pthread_t> stopSignalledThread{0};
void recordStopSignal(int) {
    stopSignalledThread = pthread_self();
}

TEST(Threads, ThreadKillSignalsOnlyLiveThreads) {
    stopSignalledThread = 0;
    SpinningThread spinner(recordStopSignal);
    ASSERT_TRUE(spinner.started());
    EXPECT_EQ(psThreadKill(spinner.tid(), 0), 0);
    for (int i = 0; i < 5000 && stopSignalledThread == 0; ++i) {
        std::this_thread::sleep_for(milliseconds(1));
    }
    EXPECT_TRUE(pthread_equal(stopSignalledThread, spinner.tid()));
    EXPECT_EQ(spinner.join(), reinterpret_cast<void*>(1));

    stopSignalledThread = 0;
    EXPECT_EQ(psIsThreadAlive(spinner.tid(), 0), 0) << "psThreadExit marked it completed";
    EXPECT_EQ(psThreadKill(spinner.tid(), 0), 0);
    std::this_thread::sleep_for(milliseconds(20));
    EXPECT_EQ(stopSignalledThread, pthread_t{0}) << "nothing sent to an ended thread";
}

TEST(Threads, ThreadKillEndsThreadThroughTrapHandler) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer calls handlers from its own frames, which pthread_exit "
                    "cannot unwind";
#endif
    SpinningThread spinner(psTrapHandler);
    ASSERT_TRUE(spinner.started());
    EXPECT_EQ(psThreadKill(spinner.tid(), 0), 0);
    bool ended = waitUntilNotAlive(spinner.tid());
    EXPECT_TRUE(ended);
    EXPECT_EQ(spinner.join(), nullptr) << "ended by the signal, with the thread exit code";
    EXPECT_EQ(psThreadKill(spinner.tid(), 0), 0);
}

}  // namespace
