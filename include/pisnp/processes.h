// Running commands through the shell and following child processes. Every function may be
// called from any thread; texts handed out belong to the caller (arcFree).
#pragma once

#include <sys/types.h>

#include "pisnp_export.h"

// Running commands through the shell and turning the child's wait status into one return code.
//
// Return codes: 0 to 255 the command's exit status (0 too when the caller did not wait); 1 to
// 126 also the number of a signal that ended it; 131 waiting failed; 901 no child process could
// be created; 109 a null command; 4321 not supported on this platform. A shell that cannot be
// started shows up as exit status 104 (not found), 106 (no access) or 115 (other errors).
//
// Every function may be called from any thread. While a caller waits, the child-ended signal is
// set to its default action for the whole process, so that the child's status stays available.
// Runs command with "/bin/sh -c". wait 1 waits for the child and returns its code; any other
// value returns 0 once the child has started. When output is not null it is set to null and,
// with wait 1, receives what the command wrote to its error stream (with alsoStdout non-zero
// its output stream too, in the order written), NUL-terminated, to be released with arcFree.
// A failure to capture leaves *output null and does not change the code.
PISNP_API int psCmdExecute(char* command, int wait, char** output, int alsoStdout);

// Runs the helper "arcswitch" of the client's executable directory with the arguments command,
// user and id (in decimal), without capture; codes as psCmdExecute.
PISNP_API int psSwitchUserCmdExecute(char* command, char* user, unsigned int id, int wait);

// Not supported on this platform: 4321.
PISNP_API int psCmdExecuteAsUser(char*, char*, char*, char*, char**);

// Child processes: starting one, reaping finished ones, and reporting how one ended.
// Starts a child without copying the caller's memory; it restores the default action of the
// signals the library may have changed (and of every caught one), clears its signal mask and
// runs argv[0] with argv. Returns the child's process ID, or -1 when no child could be created.
// When the program cannot be run, the caller logs why and the child it returns exits at once
// with 104 (not found), 106 (no access) or 115 (anything else), so that a wait sees what it
// would see of a failed exec.
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

// For other platforms: these answer with a constant here (0 unless said otherwise).
PISNP_API int psStoreSchedIDforCad(...);
PISNP_API int psReplaceOnReboot(...);
PISNP_API int psCheckDescLength(...);
PISNP_API int psRunningWinPEMode(...);
PISNP_API int psIsHotfixInstalled(...);
PISNP_API int psValidateWindowsUser(...);
PISNP_API int psValidOsLevel(...);     // 1
PISNP_API int psImpersonateUser(...);  // 4321
PISNP_API int psRevertUser(...);       // 4321
PISNP_API int psCmdExecuteW(...);      // 4321
PISNP_API int psOnlineSnapshot(...);   // 4321
PISNP_API void psRebootMachine(...);
PISNP_API void psOutOfMemoryAbort(...);
