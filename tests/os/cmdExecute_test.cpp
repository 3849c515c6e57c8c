#include "pisnp/processes.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <utility>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "base/sysCalls.h"
#include "mem/checkedAlloc.h"
#include "pisnp/files.h"
#include "pisnp/systemInfo.h"
#include "support/allocTracker.h"

namespace {

namespace fs = std::filesystem;
using pisnp_test::AllocTracker;

struct TempDir {
    std::string path = [] {
        char tmpl[] = "/tmp/pisnp-cmd-XXXXXX";
        return std::string(mkdtemp(tmpl) != nullptr ? tmpl : "");
    }();
    ~TempDir() { fs::remove_all(path); }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
};

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeExecutable(const std::string& path, const std::string& text, mode_t mode = 0755) {
    std::ofstream(path) << text;
    chmod(path.c_str(), mode);
}

// Runs command with capture and hands back the code and the captured text ("<null>" when
// nothing was captured), releasing the text.
struct Captured {
    int rc;
    std::string text;
};

Captured capture(const std::string& command, int alsoStdout = 0) {
    std::string copy = command;
    char* out = reinterpret_cast<char*>(1);  // must be overwritten
    int rc = psCmdExecute(copy.data(), 1, &out, alsoStdout);
    Captured c{rc, out == nullptr ? "<null>" : std::string(out)};
    if (out != nullptr) {
        EXPECT_EQ(chkSnake(out, "t.cpp", 1), 0) << "the text must be a checked block";
        ARC_FREE(out);
    }
    return c;
}

int exitStatusOf(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

TEST(CmdExecute, DecodesExitStatusesAndSignals) {
    for (auto [command, expected] :
         {std::pair{"exit 3", 3}, {"exit 255", 255}, {"kill -9 $$", 9}, {"kill -TERM $$", 15}}) {
        std::string c = command;
        EXPECT_EQ(psCmdExecute(c.data(), 1, nullptr, 0), expected) << command;
        EXPECT_EQ(capture(command).rc, expected) << "the same when the error stream is captured";
    }
}

// Without a capture file the command still runs; without a process it is 901, and the capture
// file made for it is gone.
TEST(CmdExecute, FailuresToCaptureAndToStart) {
    {
        pisnp::sys::Override noTemp(
            &pisnp::sys::Table::mkostemp, +[](char*, int) { return -1; });
        Captured c = capture("exit 5");
        EXPECT_EQ(c.rc, 5);
        EXPECT_EQ(c.text, "<null>");
    }
    static std::string made;
    pisnp::sys::Override noProcess(
        &pisnp::sys::Table::spawn,
        +[](pid_t*, const char*, char* const*, const sigset_t*) { return EAGAIN; });
    pisnp::sys::Override noted(
        &pisnp::sys::Table::mkostemp, +[](char* pattern, int flags) {
            int fd = pisnp::sys::real().mkostemp(pattern, flags);
            made = pattern;
            return fd;
        });
    Captured c = capture("true");
    EXPECT_EQ(c.rc, 901);
    EXPECT_EQ(c.text, "<null>");
    EXPECT_EQ(made.rfind("/tmp/arc.log", 0), 0u);
    EXPECT_FALSE(fs::exists(made));

    char* out = reinterpret_cast<char*>(1);
    EXPECT_EQ(psCmdExecute(nullptr, 1, &out, 0), 109);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(psCmdExecuteAsUser(nullptr, nullptr, nullptr, nullptr, nullptr), 4321);
}

TEST(CmdExecute, CapturesErrorStreamAndOnRequestOutputStream) {
    Captured failing = capture("(printf 'first\\nsecond' >&2; exit 2)");
    EXPECT_EQ(failing.rc, 2);
    EXPECT_EQ(failing.text, "first\nsecond");

    Captured both = capture("(echo one; echo two >&2; echo three)", 1);
    EXPECT_EQ(both.rc, 0);
    EXPECT_EQ(both.text, "one\ntwo\nthree\n") << "both streams, in the order written";

    // A command that discards its own output stream contributes only its error stream.
    Captured discarding = capture("(echo out; echo err >&2) 1>/dev/null");
    EXPECT_EQ(discarding.text, "err\n");

    EXPECT_EQ(capture("true").text, "") << "an empty capture is an empty text, not null";
}

TEST(CmdExecute, NoWaitReturnsAtOnceAndLeavesChildToBeReaped) {
    std::string command = "exit 7";
    char* out = reinterpret_cast<char*>(1);
    EXPECT_EQ(psCmdExecute(command.data(), 0, &out, 0), 0);
    EXPECT_EQ(out, nullptr) << "cleared even though nothing is captured without waiting";

    // The child's status is still there to be collected: nobody waited for it.
    siginfo_t info{};
    ASSERT_EQ(waitid(P_ALL, 0, &info, WEXITED | WNOWAIT), 0);
    EXPECT_EQ(info.si_status, 7);
    psChildCleanup();
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    psChildCleanup();  // nothing left: must not block
}

TEST(CmdExecute, RemovesCaptureFileOnEveryPath) {
    TempDir dir;
    std::string nameFile = dir / "capture-name";
    // The subshell's error stream is the capture file: readlink reports its name.
    std::string command = "(readlink /proc/self/fd/2 > " + nameFile + "; exit 4)";

    Captured ok = capture(command);
    EXPECT_EQ(ok.rc, 4);
    EXPECT_EQ(ok.text, "");
    std::string used = slurp(nameFile);
    ASSERT_EQ(used.rfind("/tmp/arc.log", 0), 0u) << used;
    EXPECT_FALSE(fs::exists(used.substr(0, std::strlen("/tmp/arc.logXXXXXX"))));

    // No memory for the text: the code is kept, nothing is handed back, the file still goes.
    {
        AllocTracker tracker;
        tracker.failAt(1, true);
        Captured oom = capture(command);
        EXPECT_EQ(oom.rc, 4);
        EXPECT_EQ(oom.text, "<null>");
        EXPECT_EQ(tracker.failures(), 1u);
        EXPECT_EQ(tracker.live(), 0u);
    }
    EXPECT_FALSE(fs::exists(slurp(nameFile).substr(0, std::strlen("/tmp/arc.logXXXXXX"))));
}

TEST(CmdExecute, SpawnTaskPassesTheWholeVector) {
    const char* args[] = {"/bin/sh", "-c", "exit $#", "sh", "a", "b", nullptr};
    EXPECT_EQ(exitStatusOf(SpawnTask(args)), 2);
    EXPECT_EQ(SpawnTask(nullptr), -1);
}

// Seen by a program that copies its own status (a shell would clear its mask itself).
TEST(CmdExecute, SpawnTaskStartsProgramsWithDefaultSignalHandling) {
    TempDir dir;
    std::string report = dir / "status";
    const char* args[] = {"/bin/cp", "/proc/self/status", report.c_str(), nullptr};
    struct sigaction oldPipe {};
    sigaction(SIGPIPE, nullptr, &oldPipe);
    pkInstallSignalHandler(SIGPIPE, SIG_IGN);
    sigset_t usr1, oldMask;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &usr1, &oldMask);
    pid_t pid = SpawnTask(args);
    pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
    sigaction(SIGPIPE, &oldPipe, nullptr);
    ASSERT_EQ(exitStatusOf(pid), 0);

    std::istringstream in(slurp(report));
    unsigned long long blocked = ~0ull, ignored = ~0ull;
    for (std::string key, value; in >> key >> value;) {
        if (key == "SigBlk:") blocked = std::stoull(value, nullptr, 16);
        if (key == "SigIgn:") ignored = std::stoull(value, nullptr, 16);
    }
    EXPECT_EQ(blocked & (1ull << (SIGUSR1 - 1)), 0u) << "the signal mask is cleared";
    EXPECT_EQ(ignored & (1ull << (SIGPIPE - 1)), 0u) << "an ignored signal is reset";
}

TEST(CmdExecute, DeadSchedChildSignalHandlerReapsAndStaysInstalled) {
    struct sigaction old {};
    sigaction(SIGCHLD, nullptr, &old);
    pkInstallSignalHandler(SIGCHLD, DeadSchedChild);

    const char* args[] = {"/bin/sh", "-c", "exit 0", nullptr};
    pid_t pid = SpawnTask(args);
    ASSERT_GT(pid, 0);
    bool reaped = false;
    for (int i = 0; i < 500 && !reaped; ++i) {
        // A zombie still answers kill; a reaped child does not.
        reaped = kill(pid, 0) == -1 && errno == ESRCH;
        if (!reaped) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    struct sigaction now {};
    sigaction(SIGCHLD, nullptr, &now);
    sigaction(SIGCHLD, &old, nullptr);
    EXPECT_TRUE(reaped);
    EXPECT_EQ(now.sa_handler, DeadSchedChild);
}

TEST(CmdExecute, SwitchUserRunsHelperFromExecutableDirectory) {
    TempDir dir;
    std::string args = dir / "args";
    writeExecutable(dir / "arcswitch", "#!/bin/sh\nprintf '%s|' \"$@\" > " + args + "\nexit 4\n");
    std::string execDir = dir.path + "/";
    char*& slot = dsGetSystemInfo()->execDir;
    char* saved = slot;
    slot = execDir.data();

    char command[] = "ls -l /";
    char user[] = "nobody";
    EXPECT_EQ(psSwitchUserCmdExecute(command, user, 42, 1), 4);
    EXPECT_EQ(slurp(args), "ls -l /|nobody|42|");
    EXPECT_EQ(psSwitchUserCmdExecute(command, user, 4294967295u, 1), 4);
    EXPECT_EQ(slurp(args), "ls -l /|nobody|-1|") << "the id is printed signed";

    slot = saved;
}

// The child runs its program by the time SpawnTask returns, so ps sees it at once.
TEST(CmdExecute, JournalDaemonCountsOnlyWhenExactlyOneRuns) {
    if (access("/bin/ps", X_OK) != 0 || psIsJournalSupported() != 0)
        GTEST_SKIP() << "no ps, or a journal daemon runs on this machine";
    TempDir dir;
    std::string daemon = dir / "bkpjbbd";
    fs::copy_file("/bin/sleep", daemon);
    const char* args[] = {daemon.c_str(), "30", nullptr};
    pid_t first = SpawnTask(args);
    EXPECT_EQ(psIsJournalSupported(), 1);
    pid_t second = SpawnTask(args);
    EXPECT_EQ(psIsJournalSupported(), 0) << "two daemons are not the journal's one";
    for (pid_t pid : {first, second}) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

}  // namespace
