// Trace lines of command execution, threads, mutexes and signals: their exact texts, and the
// classes that let them through.
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <string>
#include <thread>

#include "diag/traceTestSupport.h"
#include "mutexTestSupport.h"
#include "pisnp/processes.h"
#include "pisnp/threads.h"
#include "support/allocTracker.h"
#include "support/fakeClock.h"

namespace {

class OsTraceTest : public trace_test::TraceTest {
  protected:
    // Starts tracing the given classes into a fresh file.
    void traceClasses(const char* list) {
        path_ = dir_.file("os.out");
        ASSERT_EQ(enable(list), 0);
        ASSERT_EQ(begin(path_), 0);
    }
    std::string text() const { return trace_test::readFile(path_); }
    bool has(const std::string& line) const { return text().find(line) != std::string::npos; }

    // Runs body in a child process that shares the trace file; returns its exit status.
    template <typename Body>
    int inChild(Body body) {
        pid_t pid = fork();
        if (pid == 0) _exit(body());
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1000;
    }

    std::string path_;
};

TEST_F(OsTraceTest, ChildFateLinesForEveryKindOfWaitStatus) {
    traceClasses("-ALL GENERAL");
    char name[] = "job";
    LogAfterWaitPID(name, 10, 3 << 8);            // exited
    LogAfterWaitPID(name, 11, 15);                // signalled, no core
    LogAfterWaitPID(name, 16, 9 | 0x80);          // signalled, core
    LogAfterWaitPID(name, 12, (19 << 8) | 0x7f);  // stopped by SIGSTOP
    LogAfterWaitPID(name, 13, 0xffff);            // continued: not a fate worth a line
    char empty[] = "";
    LogAfterWaitPID(empty, 14, 9);
    LogAfterWaitPID(nullptr, 15, 9);

    std::string t = text();
    EXPECT_NE(t.find("job, pid = 10, exited normally, status = 3\n"), std::string::npos) << t;
    EXPECT_NE(t.find("job, pid = 11, exited abnormally, signal = 15 \n"), std::string::npos);
    EXPECT_NE(t.find("job, pid = 16, exited abnormally, signal = 9 (core file generated)\n"),
              std::string::npos);
    EXPECT_NE(t.find("job, pid = 12, exited - child stopped, signal = 19\n"), std::string::npos);
    EXPECT_EQ(t.find("pid = 13"), std::string::npos);
    EXPECT_EQ(t.find("pid = 14"), std::string::npos) << "an empty name logs nothing";
    EXPECT_EQ(t.find("pid = 15"), std::string::npos);
}

TEST_F(OsTraceTest, ChildFateNormalExitNeedsGeneralClass) {
    traceClasses("-ALL THREAD");
    char name[] = "job";
    LogAfterWaitPID(name, 21, 0);
    EXPECT_FALSE(has("exited normally"));
}

TEST_F(OsTraceTest, ProgramsThatCannotRunAreLoggedUnderErrorClass) {
    traceClasses("-ALL ERROR");
    trace_test::TempDir dir;
    std::string plain = dir.file("plain");
    std::string garbage = dir.file("garbage");
    {
        std::ofstream(plain) << "#!/bin/sh\n";
        std::ofstream(garbage) << "not a program\n";
    }
    chmod(plain.c_str(), 0644);
    chmod(garbage.c_str(), 0755);
    auto spawn = [](const std::string& program) {
        const char* argv[] = {program.c_str(), nullptr};
        int status = 0;
        waitpid(SpawnTask(argv), &status, 0);
        return WEXITSTATUS(status);
    };
    EXPECT_EQ(spawn("/no/such/program"), 104);
    EXPECT_EQ(spawn(plain), 106);
    EXPECT_EQ(spawn(garbage), 115);

    std::string t = text();
    EXPECT_NE(t.find("File '/no/such/program' not found by execl().\n"), std::string::npos) << t;
    EXPECT_NE(t.find("Unable to access file '" + plain + "'.\n"), std::string::npos);
    EXPECT_NE(t.find("Unexpected error invoking program, errno = 8.\n"), std::string::npos);
}

TEST_F(OsTraceTest, CaptureFailuresAreTracedAndKeepTheCode) {
    traceClasses("-ALL GENERAL");

    // The command removes its own capture file: the parent cannot find it afterwards.
    char removing[] = "(rm \"$(readlink /proc/self/fd/2)\"; exit 6)";
    char* out = reinterpret_cast<char*>(1);
    EXPECT_EQ(psCmdExecute(removing, 1, &out, 0), 6);
    EXPECT_EQ(out, nullptr);
    EXPECT_TRUE(has("psCmdExecute unable to get status for /tmp/arc.log")) << text();

    {
        pisnp_test::AllocTracker tracker;
        tracker.failAt(1);
        char failing[] = "(echo lost >&2; exit 7)";
        EXPECT_EQ(psCmdExecute(failing, 1, &out, 0), 7);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(tracker.live(), 0u);
    }
    EXPECT_TRUE(has("psCmdExecute malloc failure\n"));

    {
        // No descriptor left for the capture file: the command still runs, uncaptured.
        pisnp::sys::Override noFile(
            &pisnp::sys::Table::mkostemp, +[](char*, int) {
                errno = EMFILE;
                return -1;
            });
        char command[] = "exit 5";
        EXPECT_EQ(psCmdExecute(command, 1, &out, 0), 5);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_TRUE(has("mkstemp for /tmp/arc.logXXXXXX failed\n")) << "the template is named";
}

TEST_F(OsTraceTest, MutexFailuresAreTracedUnderThreadClass) {
    traceClasses("-ALL THREAD");
    pthread_mutex_t m;
    ASSERT_EQ(initErrorCheckingMutex(&m), 0);

    ASSERT_EQ(psMutexLock(&m, 0), 0);
    EXPECT_EQ(psMutexLock(&m, 0), 936);
#if !defined(__SANITIZE_THREAD__)  // which reports destroying a held mutex and fails the run
    EXPECT_EQ(psMutexDestroy(&m), 16) << "still locked";
#endif
    EXPECT_EQ(psMutexUnlock(&m), 0);
    EXPECT_EQ(psMutexDestroy(&m), 0);

    std::string t = text();
    EXPECT_NE(t.find("psMutexLock : D E A D L O C K\n"), std::string::npos) << t;
#if !defined(__SANITIZE_THREAD__)
    EXPECT_NE(t.find("psMutexDestroy(): The mutex is busy\n"), std::string::npos);
#endif
}

void* exitWithPsThreadExit(void*) {
    psThreadExit(nullptr);
}

TEST_F(OsTraceTest, ThreadRegistryTracesEachChange) {
    traceClasses("-ALL THREAD");
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_JOINABLE);
    pthread_t tid{};
    ThreadCreate desc{};
    desc.threadId = &tid;
    desc.attr = &attr;
    desc.startFunc = exitWithPsThreadExit;
    ASSERT_EQ(psAPIthreadCreate(&desc, const_cast<char*>("mover")), 0);
    pthread_join(tid, nullptr);
    pthread_attr_destroy(&attr);
    const unsigned id = static_cast<unsigned>(tid);
    EXPECT_EQ(psIsThreadAlive(tid, 0), 0);
    EXPECT_EQ(psThreadKill(tid, 0), 0);

    std::string t = text();
    EXPECT_NE(t.find("Starting thread mover\n"), std::string::npos) << t;
    EXPECT_NE(t.find("psThreadCreate(): mark thread(" + std::to_string(id) + ") as being alive.\n"),
              std::string::npos);
    EXPECT_NE(t.find(" exit called.\n"), std::string::npos);
    EXPECT_NE(t.find("psMarkThreadAsCompleted(" + std::to_string(id) + "): done.\n"),
              std::string::npos);
    EXPECT_NE(t.find("psIsThreadAlive(" + std::to_string(id) + "): isAlive(0)\n"),
              std::string::npos);
    EXPECT_NE(t.find("psThreadKill(): tid(" + std::to_string(id) +
                     ") has exited already or never existed!\n"),
              std::string::npos);
}

TEST_F(OsTraceTest, StackSizeAndInvalidSignalKindAreTraced) {
    traceClasses("-ALL THREAD");
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    EXPECT_EQ(psSetThreadStackSize(&attr, 1 << 20), 0);
    EXPECT_EQ(psSetThreadStackSize(&attr, 1), 22) << "below the minimum";
    EXPECT_EQ(psSetThreadStackSize(nullptr, 1 << 20), 109);
    pthread_attr_destroy(&attr);
    EXPECT_EQ(psSignalProcess(3), -1);

    std::string t = text();
    EXPECT_NE(t.find("pthread_attr_setstacksize: new stacksize=1048576\n"), std::string::npos) << t;
    EXPECT_NE(t.find("pthread_attr_setstacksize failed: errno=22\n"), std::string::npos);
    EXPECT_NE(t.find("Called with invalid signal (3).\n"), std::string::npos);
}

TEST_F(OsTraceTest, OnlyDelaysOfASecondOrMoreAreTracedAndOnlyUnderThreadStatus) {
    pisnp_test::FakeClock clock;
    traceClasses("-ALL THREAD");
    psThreadDelay(1000);
    EXPECT_FALSE(has("delaying")) << text();

    ASSERT_EQ(enable("THREAD_STATUS"), 0);
    psThreadDelay(999);
    EXPECT_DOUBLE_EQ(clock.elapsed(), 1.999);
    EXPECT_FALSE(has("delaying")) << text();
    psThreadDelay(1000);
    const std::string self = "Thread " + std::to_string(gettid());
    EXPECT_TRUE(has(self + " delaying for 1000 milliseconds.\n")) << text();
    EXPECT_TRUE(has(self + " awakened.\n"));
}

}  // namespace
