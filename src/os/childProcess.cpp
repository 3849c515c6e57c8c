#include "os/childProcess.h"

#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "diag/trace.h"
#include "os/pkSignalHandler.h"
#include "os/threads.h"

namespace {

// Signals whose handling the library or its host may have changed; a new program starts with
// the default for each, in this order.
constexpr int kResetInChild[] = {SIGINT,  SIGTERM, SIGQUIT, SIGPIPE,
                                 SIGUSR1, SIGXFSZ, SIGTSTP, SIGABRT};

constexpr int kExitNotFound = 104;
constexpr int kExitNoAccess = 106;
constexpr int kExitOther = 115;

constexpr char kJournalProbe[] = "ps -eocomm | grep bkpjbbd";

[[noreturn]] void runInChild(const char** argv) {
    for (int sig : kResetInChild) pkInstallSignalHandler(sig, nullptr);
    sigset_t none;
    sigemptyset(&none);
    pthread_sigmask(SIG_SETMASK, &none, nullptr);
    execv(argv[0], const_cast<char* const*>(argv));

    int err = errno;
    int code = kExitOther;
    if (err == ENOENT) {
        trLogDiagMsg(__FILE_NAME__, __LINE__, TR_ERROR, "File '%s' not found by execl().\n",
                     argv[0]);
        code = kExitNotFound;
    } else if (err == EACCES) {
        trLogDiagMsg(__FILE_NAME__, __LINE__, TR_ERROR, "Unable to access file '%s'.\n", argv[0]);
        code = kExitNoAccess;
    } else {
        trLogDiagMsg(__FILE_NAME__, __LINE__, TR_ERROR,
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
    pid_t pid = fork();
    if (pid == 0) runInChild(argv);
    return pid;
}

void LogAfterWaitPID(char* name, int pid, int status) {
    if (name == nullptr || *name == '\0') return;
    int low7 = status & 0x7f;
    if (low7 == 0) {
        TRACE(TR_GENERAL, "%s, pid = %d, exited normally, status = %d\n", name, pid,
              (status >> 8) & 0xff);
    } else if (low7 != 0x7f) {
        trLogDiagMsg(__FILE_NAME__, __LINE__, TR_GENERAL,
                     "%s, pid = %d, exited abnormally, signal = %d %s\n", name, pid, low7,
                     (status & 0x80) != 0 ? "(core file generated)" : "");
    } else if ((status & 0xff) == 0x7f) {
        trLogDiagMsg(__FILE_NAME__, __LINE__, TR_GENERAL,
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
    while (waitpid(-1, &status, WNOHANG) > 0) {
    }
}

int psIsJournalSupported() {
    FILE* pipe = popen(kJournalProbe, "re");
    if (pipe == nullptr) {
        TRACE(TR_GENERAL, "psIsJournalSupported: Failed to open pipe\n");
        return 0;
    }
    char line[4096];
    int lines = 0;
    while (std::fgets(line, sizeof line, pipe) != nullptr) ++lines;
    pclose(pipe);
    psThreadDelay(10);
    return lines == 1 ? 1 : 0;
}
