// The process's signal set-up: fatal traps end in psTrapHandler, shutdown requests are blocked
// in every thread and consumed by the one thread that waits in psWaitShutdown.
//
// Trap signals: SIGILL, SIGFPE, SIGBUS, SIGSEGV, SIGUSR1 (stops one thread, see psThreadKill),
// SIGABRT, SIGTRAP. Shutdown signals: SIGINT, SIGQUIT, SIGTERM, SIGPWR, SIGXCPU, SIGXFSZ.
#pragma once

#include "pisnp_export.h"

// Ignores SIGPIPE, blocks the shutdown signals in the calling thread (threads it creates later
// inherit that) and installs psTrapHandler for the trap signals. *block receives a 256-byte
// block from arcMalloc: the trap signal set, then the shutdown signal set. 0, or -1 when the
// block cannot be had or a handler cannot be installed.
PISNP_API int psSetupSignals(void** block);
// Waits for a shutdown signal of the block's set. From then on the mutex wrappers do nothing
// (getGlobalInSignal() is 1). 0, or -1 when waiting failed.
PISNP_API int psWaitShutdown(void* block);
// Ends the calling thread for SIGUSR1; for any other signal logs the fatal error and aborts.
PISNP_API void psTrapHandler(int signal);
// SIGTERM to the process that loaded the library.
PISNP_API int psSignalShutdownEvent();
// kind 1: as psSignalShutdownEvent; any other kind is refused (-1).
PISNP_API int psSignalProcess(int kind);
// Nothing to prepare on this platform: 0.
PISNP_API int psSignalInit();
// 1 once a shutdown signal has been received.
PISNP_API int getGlobalInSignal();
