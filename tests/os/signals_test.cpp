#include "pisnp/threads.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <fstream>
#include <iterator>
#include <string>

#include "mem/checkedAlloc.h"
#include "pisnp/hostAnchor.h"
#include "pisnp/trace.h"
#include "support/allocTracker.h"

namespace {

// Runs body in a forked child, whose signal set-up cannot disturb the test program; body
// returns 0 on success or the number of the failed check. Returns the child's wait status.
template <typename Body>
int inChild(Body body) {
    pid_t pid = fork();
    if (pid == 0) {
        rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        _exit(body());
    }
    int status = -1;
    waitpid(pid, &status, 0);
    return status;
}

int checkShutdownSequence() {
    void* block = nullptr;
    if (psSetupSignals(&block) != 0 || block == nullptr) return 1;
    const auto* trapSet = static_cast<const sigset_t*>(block);
    const auto* shutdownSet = trapSet + 1;
    for (int sig : {4, 8, 7, 11, 10, 6, 5}) {
        if (sigismember(trapSet, sig) != 1 || sigismember(shutdownSet, sig) != 0) return 2;
    }
    for (int sig : {2, 3, 15, 30, 24, 25}) {
        if (sigismember(shutdownSet, sig) != 1 || sigismember(trapSet, sig) != 0) return 3;
    }
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    for (int sig : {2, 3, 15, 30, 24, 25}) {
        if (sigismember(&mask, sig) != 1) return 4;
    }
    struct sigaction action {};
    sigaction(SIGSEGV, nullptr, &action);
    if (action.sa_handler != psTrapHandler) return 5;
    sigaction(SIGPIPE, nullptr, &action);
    if (action.sa_handler != SIG_IGN) return 6;

    if (getGlobalInSignal() != 0) return 7;
    kill(getpid(), SIGQUIT);  // stays pending: blocked
    if (psWaitShutdown(block) != 0) return 8;
    if (getGlobalInSignal() != 1) return 9;

    // Shutting down: the wrappers leave the objects alone, so nothing can block.
    pthread_mutex_t m = PTHREAD_MUTEX_INITIALIZER;
    pthread_mutex_lock(&m);
    if (psMutexLock(&m, 0) != 0 || psMutexTryLock(&m) != 0) return 10;
    if (psMutexUnlock(&m) != 0 || psMutexDestroy(&m) != 0) return 11;
    if (pthread_mutex_trylock(&m) != EBUSY) return 12;  // still held
    pthread_cond_t c = PTHREAD_COND_INITIALIZER;
    if (psDestroyCondition(&c) != 0) return 13;
    ARC_FREE(block);
    return 0;
}

TEST(Signals, SignalSetupThenShutdownMakesMutexWrappersInert) {
    int status = inChild(checkShutdownSequence);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "failed check number";
}

TEST(Signals, SignalOfTrapAbortsProcess) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the trap handler traces and logs before it aborts, which ThreadSanitizer "
                    "reports as a signal-unsafe call";
#endif
    int status = inChild([] {
        void* block = nullptr;
        if (psSetupSignals(&block) != 0) return 1;
        raise(SIGFPE);
        return 2;  // the handler must not return
    });
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), SIGABRT);
}

std::atomic<int> termsSeen{0};
void countTerm(int) {
    termsSeen.fetch_add(1);
}

TEST(Signals, SignalShutdownEventReachesMainProcess) {
    struct sigaction counting {};
    struct sigaction old {};
    counting.sa_handler = countTerm;
    sigemptyset(&counting.sa_mask);
    sigaction(SIGTERM, &counting, &old);

    auto waitFor = [](int n) {
        for (int i = 0; i < 2000 && termsSeen.load() < n; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return termsSeen.load();
    };
    termsSeen = 0;
    EXPECT_EQ(psSignalShutdownEvent(), 0);
    EXPECT_EQ(waitFor(1), 1);
    EXPECT_EQ(psSignalProcess(2), -1);
    EXPECT_EQ(psSignalProcess(1), 0);
    EXPECT_EQ(waitFor(2), 2) << "kind 2 sends nothing, kind 1 one signal";
    EXPECT_EQ(psSignalInit(), 0);

    sigaction(SIGTERM, &old, nullptr);
}

TEST(Signals, SignalSetupRefusesWithoutMemoryOrPlaceForBlock) {
    EXPECT_EQ(psSetupSignals(nullptr), -1);
    EXPECT_EQ(psWaitShutdown(nullptr), -1);
    int status = inChild([] {
        pisnp_test::AllocTracker tracker;
        tracker.failAt(1);
        void* block = nullptr;
        if (psSetupSignals(&block) != -1) return 1;
        if (block != nullptr) return 2;
        sigset_t mask;
        pthread_sigmask(SIG_SETMASK, nullptr, &mask);
        if (sigismember(&mask, SIGTERM) != 0) return 3;  // nothing blocked without the block
        return tracker.live() == 0 ? 0 : 4;
    });
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "failed check number";
}

}  // namespace

namespace {

class NamedThread final : public HostThreadDesc {
  public:
    const char* getName() override { return "Worker"; }
    int getNumber() override { return 7; }
};

class FakeAnchor final : public HostAnchor {
  public:
    void anchorSlot0() override {}
    void anchorSlot1() override {}
    HostThreadDesc* getThreadDesc(int which) override { return which == 0 ? &desc : nullptr; }
    NamedThread desc;
};

void noTid(char* banner, char*) {
    banner[0] = '\0';
}

TEST(Signals, SignalOfTrapNamesThreadThroughHostAnchor) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the trap handler traces and logs before it aborts, which ThreadSanitizer "
                    "reports as a signal-unsafe call";
#endif
    char dir[] = "/tmp/pisnp-trap-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string path = std::string(dir) + "/trace.out";
    int status = inChild([&] {
        static FakeAnchor anchor;
        GAnchorP = &anchor;
        new_TraceObject(ctCLBackup, 0, noTid);
        char classes[] = "THREAD GENERAL -PREFIX -TIMESTAMP";
        trEnable(classes, 1);
        trSetMaxTraceSize(1);
        if (trBegin(path.data(), 0) != 0) return 1;
        void* block = nullptr;
        if (psSetupSignals(&block) != 0) return 2;
        raise(SIGFPE);
        return 3;
    });
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("Worker thread "), std::string::npos) << text;
    EXPECT_NE(text.find(" terminating on signal 8\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Worker thread, fatal error, signal 8\n"), std::string::npos) << text;
    unlink(path.c_str());
    rmdir(dir);
}

}  // namespace
