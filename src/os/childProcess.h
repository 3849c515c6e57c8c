// Child processes: starting one, reaping finished ones, and reporting how one ended.
#pragma once

#include <sys/types.h>

#include "pisnp_export.h"

// Forks; the child restores the default action of the signals the library may have changed,
// clears its signal mask and runs argv[0] with argv. Returns the child's process ID, or -1 when
// no child could be created. When the program cannot be run the child exits with 104 (not
// found), 106 (no access) or 115 (anything else).
PISNP_API pid_t SpawnTask(const char** argv);

// Reports a wait status: a normal exit is traced, a signal or a stop goes to the diagnostic
// log. Nothing for a null or empty name.
PISNP_API void LogAfterWaitPID(char* name, int pid, int status);

// Handler for the child-ended signal: reaps one child and installs itself again.
PISNP_API void DeadSchedChild(int signal);

// Reaps every child that has already ended, without blocking.
PISNP_API void psChildCleanup();

// 1 when exactly one running process has the journal daemon's name, else 0.
PISNP_API int psIsJournalSupported();
