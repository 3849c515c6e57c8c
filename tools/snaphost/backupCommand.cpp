#include "backupCommand.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "report.h"
#include "text.h"

namespace snaphost {

namespace {

volatile sig_atomic_t gInterrupt;
constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void onSignal(int sig) {
    if (gInterrupt == 0) gInterrupt = sig;
}

// The terminal whose foreground snaphost is, or -1: only then is the terminal handed to the
// command, so that it can read it and Ctrl-C reaches it.
int foregroundTerminal() {
    for (int fd = 0; fd <= 2; ++fd)
        if (isatty(fd) && tcgetpgrp(fd) == getpgrp()) return fd;
    return -1;
}

void pause(long milliseconds) {
    timespec ts = {milliseconds / 1000, (milliseconds % 1000) * 1000000};
    while (nanosleep(&ts, &ts) == -1 && errno == EINTR) {
    }
}

// A small process that outlives snaphost: when snaphost ends without dismissing it (kill -9,
// a crash), it ends the command's process group, so that no orphan keeps reading the snapshot
// and the snapshot can be swept. Only async-signal-safe calls after the fork.
pid_t startGuardian(pid_t group, int* dismiss) {
    int link[2];
    if (pipe2(link, O_CLOEXEC) != 0) return -1;
    pid_t pid = fork();
    if (pid == -1) {
        close(link[0]);
        close(link[1]);
        return -1;
    }
    if (pid == 0) {
        // It holds nothing of snaphost's: not its locks (a run killed is gone, guardian or not),
        // nor its standard streams (a pipeline reading them ends with snaphost).
        for (int fd = 0; fd < 1024; ++fd)
            if (fd != link[0]) close(fd);
        int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
            if (null > 2) close(null);
        }
        // Signals meant for snaphost's group are snaphost's to handle.
        for (int sig : kInterruptSignals) signal(sig, SIG_IGN);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        prctl(PR_SET_NAME, "snaphost-guard");
        char byte;
        ssize_t got;
        do {
            got = read(link[0], &byte, 1);
        } while (got == -1 && errno == EINTR);
        if (got == 1) _exit(0);
        kill(-group, SIGTERM);
        kill(-group, SIGCONT);
        for (int i = 0; i < kGraceSeconds * 10 && kill(-group, 0) == 0; ++i) pause(100);
        kill(-group, SIGKILL);
        _exit(0);
    }
    close(link[0]);
    *dismiss = link[1];
    return pid;
}

void dismissGuardian(pid_t pid, int dismiss) {
    if (pid <= 0) return;
    ssize_t ignored = write(dismiss, "x", 1);
    (void)ignored;
    close(dismiss);
    while (waitpid(pid, nullptr, 0) == -1 && errno == EINTR) {
    }
}

// Ends what is left of the group after its leader ended: a process still reading the snapshot
// would keep the volume manager from removing it.
void endStragglers(pid_t group, Report& report) {
    if (kill(-group, 0) != 0) return;
    SNAPHOST_TRACE(report, "processes of the backup command's group outlived it: ending them");
    kill(-group, SIGTERM);
    kill(-group, SIGCONT);
    for (int i = 0; i < 20 && kill(-group, 0) == 0; ++i) pause(100);
    kill(-group, SIGKILL);
}

}  // namespace

void catchInterrupts() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Restarted, so that the library's own waits for its commands go on undisturbed: a
    // signal only marks the run as interrupted, and the run stops at the next step.
    action.sa_flags = SA_RESTART;
    for (int sig : kInterruptSignals) sigaction(sig, &action, nullptr);
}

int interruptSignal() {
    return gInterrupt;
}

void noteInterrupt(int sig) {
    if (gInterrupt == 0) gInterrupt = sig;
}

std::string describeStatus(int status) {
    if (WIFEXITED(status)) return strf("exited with status %d", WEXITSTATUS(status));
    if (WIFSIGNALED(status)) {
        const char* name = strsignal(WTERMSIG(status));
        return strf("was ended by signal %d (%s)", WTERMSIG(status),
                    name != nullptr ? name : "unknown signal");
    }
    return "ended in an unknown way";
}

BackupOutcome runBackupCommand(const std::vector<std::string>& command, double firstDelay,
                               const Tick& tick, Report& report) {
    BackupOutcome outcome;
    sigset_t waitSet, oldMask;
    sigemptyset(&waitSet);
    for (int sig : kInterruptSignals) sigaddset(&waitSet, sig);
    sigaddset(&waitSet, SIGCHLD);
    // Taking the terminal back from the background is allowed only with SIGTTOU blocked.
    sigaddset(&waitSet, SIGTTOU);
    sigprocmask(SIG_BLOCK, &waitSet, &oldMask);
    if (gInterrupt != 0) {
        sigprocmask(SIG_SETMASK, &oldMask, nullptr);
        outcome.startError = "interrupted";
        return outcome;
    }

    std::vector<std::string> words = command;
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    // The status must reach the wait below, not a reaping handler.
    signal(SIGCHLD, SIG_DFL);
    int tty = foregroundTerminal();
    int execError[2];
    if (pipe2(execError, O_CLOEXEC) != 0) {
        outcome.startError = std::strerror(errno);
        sigprocmask(SIG_SETMASK, &oldMask, nullptr);
        return outcome;
    }
    pid_t pid = fork();
    if (pid == -1) {
        outcome.startError = std::strerror(errno);
        close(execError[0]);
        close(execError[1]);
        sigprocmask(SIG_SETMASK, &oldMask, nullptr);
        return outcome;
    }
    if (pid == 0) {
        setpgid(0, 0);
        if (tty >= 0) tcsetpgrp(tty, getpid());
        // Caught signals return to their defaults with exec; the mask must be restored.
        sigprocmask(SIG_SETMASK, &oldMask, nullptr);
        execvp(argv[0], argv.data());
        int err = errno;
        ssize_t ignored = write(execError[1], &err, sizeof err);
        (void)ignored;
        _exit(127);
    }
    // Both sides set the group and the terminal, whichever runs first.
    setpgid(pid, pid);
    if (tty >= 0) tcsetpgrp(tty, pid);
    close(execError[1]);
    int err = 0;
    ssize_t got;
    do {
        got = read(execError[0], &err, sizeof err);
    } while (got == -1 && errno == EINTR);
    close(execError[0]);
    int dismiss = -1;
    pid_t guardian = err == 0 ? startGuardian(pid, &dismiss) : -1;
    SNAPHOST_TRACE(report, "backup command started: pid %d, own process group, terminal %s, "
                           "guardian %d", static_cast<int>(pid),
                   tty >= 0 ? "handed over" : "not used", static_cast<int>(guardian));

    bool forwarded = false;
    double killAt = 0;
    double nextTick = monotonicSeconds() + firstDelay;
    int status = 0;
    for (;;) {
        pid_t r = waitpid(pid, &status, WNOHANG | (tty >= 0 ? WUNTRACED : 0));
        if (r == pid && WIFSTOPPED(status)) {
            // Ctrl-Z stopped the command: stop along with it, as a shell expects of a job,
            // and carry on together when continued.
            SNAPHOST_TRACE(report, "backup command stopped by signal %d; stopping too",
                           WSTOPSIG(status));
            tcsetpgrp(tty, getpgrp());
            kill(getpid(), SIGSTOP);
            tcsetpgrp(tty, pid);
            kill(-pid, SIGCONT);
            continue;
        }
        if (r == pid || (r == -1 && errno != EINTR)) break;

        double now = monotonicSeconds();
        double wait = std::clamp(nextTick - now, 0.0, 0.2);
        if (forwarded || outcome.endedByUs) wait = 0.2;
        timespec ts = {0, static_cast<long>(wait * 1e9)};
        int sig = sigtimedwait(&waitSet, nullptr, &ts);
        if (sig == SIGINT || sig == SIGTERM || sig == SIGHUP || sig == SIGQUIT) {
            noteInterrupt(sig);
            if (!forwarded) {
                SNAPHOST_TRACE(report, "signal %d: passing it on to the backup command's group",
                               sig);
                kill(-pid, sig);
                kill(-pid, SIGCONT);
                forwarded = true;
                if (killAt == 0) killAt = monotonicSeconds() + kGraceSeconds;
            } else {
                SNAPHOST_TRACE(report, "signal %d again: killing the backup command's group", sig);
                kill(-pid, SIGKILL);
            }
        }
        now = monotonicSeconds();
        if (!forwarded && !outcome.endedByUs && now >= nextTick) {
            double delay = tick();
            if (delay < 0) {
                SNAPHOST_TRACE(report, "ending the backup command's group");
                kill(-pid, SIGTERM);
                kill(-pid, SIGCONT);
                outcome.endedByUs = true;
                killAt = monotonicSeconds() + kGraceSeconds;
            } else {
                nextTick = monotonicSeconds() + delay;
            }
        }
        if (killAt > 0 && monotonicSeconds() >= killAt) {
            SNAPHOST_TRACE(report, "the backup command outlived its %d seconds of grace: "
                                   "killing it", kGraceSeconds);
            kill(-pid, SIGKILL);
            killAt = -1;
        }
    }
    if (forwarded || outcome.endedByUs)
        kill(-pid, SIGKILL);
    else
        endStragglers(pid, report);
    dismissGuardian(guardian, dismiss);
    if (tty >= 0) tcsetpgrp(tty, getpgrp());
    sigprocmask(SIG_SETMASK, &oldMask, nullptr);

    if (err != 0) {
        outcome.startError = std::strerror(err);
        return outcome;
    }
    outcome.started = true;
    outcome.status = status;
    return outcome;
}

}  // namespace snaphost
