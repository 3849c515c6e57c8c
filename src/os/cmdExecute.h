// Running commands through the shell and turning the child's wait status into one return code.
//
// Return codes: 0 to 255 the command's exit status (0 too when the caller did not wait); 1 to
// 126 also the number of a signal that ended it; 131 waiting failed; 901 no child process could
// be created; 109 a null command; 4321 not supported on this platform. A shell that cannot be
// started shows up as exit status 104 (not found), 106 (no access) or 115 (other errors).
//
// Every function may be called from any thread. While a caller waits, the child-ended signal is
// set to its default action for the whole process, so that the child's status stays available.
#pragma once

#include "pisnp_export.h"

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
