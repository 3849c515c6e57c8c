#include "pisnp/processes.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "base/report.h"
#include "base/sysCalls.h"
#include "pisnp/files.h"
#include "pisnp/resultCodes.h"
#include "pisnp/threads.h"
#include "pisnp/traceFlags.h"

namespace {

// Signals whose handling the library or its host may have changed; a new program starts with
// the default for each.
constexpr int kResetInChild[] = {SIGINT,  SIGTERM, SIGQUIT, SIGPIPE,
                                 SIGUSR1, SIGXFSZ, SIGTSTP, SIGABRT};

constexpr char kJournalProbe[] = "ps -eocomm | grep bkpjbbd";

// Logs why a program could not be run and gives the exit status that stands for it.
int reportNotRun(const char* program, int err) {
    if (err == ENOENT) {
        pisnp::report::diag(__FILE_NAME__, __LINE__, TR_ERROR, "File '%s' not found by execl().\n",
                            program);
        return PISNP_RC_NOT_FOUND;
    }
    if (err == EACCES) {
        pisnp::report::diag(__FILE_NAME__, __LINE__, TR_ERROR, "Unable to access file '%s'.\n",
                            program);
        return PISNP_RC_ACCESS_DENIED;
    }
    pisnp::report::diag(__FILE_NAME__, __LINE__, TR_ERROR,
                        "Unexpected error invoking program, errno = %d.\n", err);
    return PISNP_RC_EXEC_FAILED;
}

// A child that only ends, with the given exit status. It shares the caller's memory until it
// ends, which is all it does, so it costs nothing however large the caller is.
[[gnu::noinline]] pid_t childEndingWith(int code) {
    pid_t pid = vfork();
    if (pid == 0) _exit(code);
    return pid;
}

}  // namespace

// The child is started without a copy of the host's memory (copying a large host's page tables
// costs more than the command), with the signals above at their defaults and an empty signal
// mask. A program that cannot be run is reported here, in the caller, and a child that ends at
// once with the status for it (104, 106 or 115) stands in for it, so that the caller's wait sees
// what it would see of a child whose exec failed.
pid_t SpawnTask(const char** argv) {
    // Without a program there is nothing a child could run: report it as no child at all.
    if (argv == nullptr || argv[0] == nullptr) return -1;
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int sig : kResetInChild) sigaddset(&defaults, sig);
    pid_t pid = -1;
    int err = pisnp::sys::spawn(&pid, argv[0], const_cast<char* const*>(argv), &defaults);
    if (err == 0) return pid;
    // No process could be made at all.
    if (err == EAGAIN || err == ENOMEM) return -1;
    return childEndingWith(reportNotRun(argv[0], err));
}

void LogAfterWaitPID(char* name, int pid, int status) {
    if (name == nullptr || *name == '\0') return;
    int low7 = status & 0x7f;
    if (low7 == 0) {
        REPORT_TRACE(TR_GENERAL, "%s, pid = %d, exited normally, status = %d\n", name, pid,
                     (status >> 8) & 0xff);
    } else if (low7 != 0x7f) {
        pisnp::report::diag(__FILE_NAME__, __LINE__, TR_GENERAL,
                            "%s, pid = %d, exited abnormally, signal = %d %s\n", name, pid, low7,
                            (status & 0x80) != 0 ? "(core file generated)" : "");
    } else if ((status & 0xff) == 0x7f) {
        pisnp::report::diag(__FILE_NAME__, __LINE__, TR_GENERAL,
                            "%s, pid = %d, exited - child stopped, signal = %d\n", name, pid,
                            (status >> 8) & 0xff);
    }
}

void DeadSchedChild(int) {
    int saved = errno;  // the interrupted code may be about to read errno
    int status;
    wait(&status);
    pkInstallSignalHandler(SIGCHLD, DeadSchedChild);
    errno = saved;
}

void psChildCleanup() {
    int status;
    while (pisnp::sys::waitpid(-1, &status, WNOHANG) > 0) {
    }
}

int psIsJournalSupported() {
    FILE* pipe = popen(kJournalProbe, "re");
    if (pipe == nullptr) {
        REPORT_TRACE(TR_GENERAL, "psIsJournalSupported: Failed to open pipe\n");
        return 0;
    }
    char line[4096];
    int lines = 0;
    while (std::fgets(line, sizeof line, pipe) != nullptr) ++lines;
    pclose(pipe);
    psThreadDelay(10);
    return lines == 1 ? 1 : 0;
}
