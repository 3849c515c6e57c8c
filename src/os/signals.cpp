#include "pisnp/threads.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/report.h"
#include "mem/checkedAlloc.h"
#include "pisnp/files.h"
#include "pisnp/hostAnchor.h"
#include "pisnp/traceFlags.h"

namespace {

// The numbers are part of the contract with hosts; on this platform the names carry them.
constexpr int trapCatchTable[] = {SIGILL, SIGFPE, SIGBUS, SIGSEGV, SIGUSR1, SIGABRT, SIGTRAP};
constexpr int sigCatchTable[] = {SIGINT, SIGQUIT, SIGTERM, SIGPWR, SIGXCPU, SIGXFSZ};
static_assert(SIGILL == 4 && SIGFPE == 8 && SIGBUS == 7 && SIGSEGV == 11 && SIGUSR1 == 10 &&
              SIGABRT == 6 && SIGTRAP == 5);
static_assert(SIGINT == 2 && SIGQUIT == 3 && SIGTERM == 15 && SIGPWR == 30 && SIGXCPU == 24 &&
              SIGXFSZ == 25);

struct SignalBlock {
    sigset_t trapSet;
    sigset_t shutdownSet;
};
static_assert(sizeof(sigset_t) == 128 && sizeof(SignalBlock) == 256);

std::atomic<int> bInSignalExit{0};
// What a thread stopped by psThreadKill ends with.
int ThreadExitCode = 0;

constexpr int kShutdownKind = 1;

const char* shutdownName(int sig) {
    switch (sig) {
        case SIGINT:
            return "SIGINT";
        case SIGQUIT:
            return "SIGQUIT";
        case SIGTERM:
            return "SIGTERM";
        default:
            return "";
    }
}

// The host names its threads through its anchor; without one (or without a descriptor for
// this thread) the thread is "Unknown".
const char* currentThreadName() {
    if (GAnchorP == nullptr) return "Unknown";
    HostThreadDesc* desc = GAnchorP->getThreadDesc(0);
    if (desc == nullptr) return "Unknown";
    const char* name = desc->getName();
    return name != nullptr && *name != '\0' ? name : "Unknown";
}

}  // namespace

int psSetupSignals(void** block) {
    if (block == nullptr) return -1;  // the block would have no owner
    pkInstallSignalHandler(SIGPIPE, SIG_IGN);
    auto* signals = static_cast<SignalBlock*>(ARC_MALLOC(sizeof(SignalBlock)));
    if (signals == nullptr) return -1;

    int result = 0;
    sigemptyset(&signals->trapSet);
    for (int sig : trapCatchTable) sigaddset(&signals->trapSet, sig);
    sigemptyset(&signals->shutdownSet);
    for (int sig : sigCatchTable) sigaddset(&signals->shutdownSet, sig);
    if (pthread_sigmask(SIG_BLOCK, &signals->shutdownSet, nullptr) != 0) result = -1;

    if (result == 0) {
        for (int sig : trapCatchTable) {
            if (pkInstallSignalHandler(sig, psTrapHandler) != 0) {
                pisnp::report::diag(__FILE_NAME__, __LINE__, TR_THREAD,
                                    "Unable to establish handler for trap %d.\n", sig);
                result = -1;
            }
        }
    }
    *block = signals;
    return result;
}

int psWaitShutdown(void* block) {
    if (block == nullptr) return -1;
    auto* signals = static_cast<SignalBlock*>(block);
    int sig = 0;
    int rc = sigwait(&signals->shutdownSet, &sig);
    int err = errno;
    char rcText[128], errText[128];
    REPORT_TRACE(
        TR_THREAD, "psWaitShutdown: sigwait returned(%d), reason(%s), errno(%d), reason(%s)\n", rc,
        strerror_r(rc, rcText, sizeof rcText), err, strerror_r(err, errText, sizeof errText));
    while (rc == EINTR) {
        REPORT_TRACE(TR_THREAD, "psWaitShutdown: continue waiting...\n");
        rc = sigwait(&signals->shutdownSet, &sig);
        err = errno;
    }
    bInSignalExit.store(1);
    if (rc != 0) {
        REPORT_TRACE(TR_THREAD,
                     "sigwait failed in pkWaitshutdown. returned: %d, (errno %d: reason %s)\n", rc,
                     err, strerror_r(err, errText, sizeof errText));
        return -1;
    }
    REPORT_TRACE(TR_THREAD, "KAVR shutting down, signal %s (%d) \n", shutdownName(sig), sig);
    return 0;
}

void psTrapHandler(int signal) {
    const char* name = currentThreadName();
    REPORT_TRACE(TR_THREAD, "%s thread %u terminating on signal %d\n", name,
                 static_cast<unsigned>(pthread_self()), signal);
    if (signal == SIGUSR1) {
        psMarkThreadAsCompleted();
        pthread_exit(reinterpret_cast<void*>(static_cast<intptr_t>(ThreadExitCode)));
    }
    pisnp::report::diag(__FILE_NAME__, __LINE__, TR_GENERAL, "%s thread, fatal error, signal %d\n",
                        name, signal);
    // abort raises SIGABRT, which would come back here.
    pkInstallSignalHandler(SIGABRT, nullptr);
    abort();
}

int psSignalShutdownEvent() {
    return kill(psGetMainPID(), SIGTERM);
}

int psSignalProcess(int kind) {
    if (kind == kShutdownKind) return kill(psGetMainPID(), SIGTERM);
    REPORT_TRACE(TR_THREAD, "Called with invalid signal (%d).\n", kind);
    return -1;
}

int psSignalInit() {
    return 0;
}

int getGlobalInSignal() {
    return bInSignalExit.load();
}
