#include "pisnp/processes.h"

#include <pthread.h>
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
// the default for each, in this order.
constexpr int kResetInChild[] = {SIGINT,  SIGTERM, SIGQUIT, SIGPIPE,
                                 SIGUSR1, SIGXFSZ, SIGTSTP, SIGABRT};

constexpr char kJournalProbe[] = "ps -eocomm | grep bkpjbbd";

[[noreturn]] void runInChild(const char** argv) {
    for (int sig : kResetInChild) pkInstallSignalHandler(sig, nullptr);
    sigset_t none;
    sigemptyset(&none);
    pthread_sigmask(SIG_SETMASK, &none, nullptr);
    pisnp::sys::execv(argv[0], const_cast<char* const*>(argv));

    int err = errno;
    int code = PISNP_RC_EXEC_FAILED;
    if (err == ENOENT) {
        pisnp::report::diag(__FILE_NAME__, __LINE__, TR_ERROR, "File '%s' not found by execl().\n",
                            argv[0]);
        code = PISNP_RC_NOT_FOUND;
    } else if (err == EACCES) {
        pisnp::report::diag(__FILE_NAME__, __LINE__, TR_ERROR, "Unable to access file '%s'.\n",
                            argv[0]);
        code = PISNP_RC_ACCESS_DENIED;
    } else {
        pisnp::report::diag(__FILE_NAME__, __LINE__, TR_ERROR,
                            "Unexpected error invoking program, errno = %d.\n", err);
    }
    // _exit, not exit: this copy of the host must not run the host's exit handlers nor flush
    // the host's stdio buffers a second time. The logs it writes to are unbuffered.
    _exit(code);
}

}  // namespace

pid_t SpawnTask(const char** argv) {
    // Without a program there is nothing a child could run: report it as no child at all.
    if (argv == nullptr || argv[0] == nullptr) return -1;
    pid_t pid = pisnp::sys::fork();
    if (pid == 0) runInChild(argv);
    return pid;
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
