// snaphost's exit codes: one per stage, so that a calling script can tell what went wrong. When
// several stages fail the first one counts, except that an overflow counts above a failed
// backup command (the overflow is why it failed) and an interruption above everything.
#pragma once

namespace snaphost {

enum ExitCode : int {
    kExitOk = 0,
    kExitUsage = 2,
    kExitLibrary = 3,
    kExitVolume = 4,
    kExitPluginStart = 5,
    kExitPrepare = 6,
    kExitPreCommand = 7,
    kExitCreate = 8,
    kExitPostCommand = 9,
    kExitBackup = 10,
    kExitEnd = 11,
    kExitRemove = 12,
    kExitPluginStop = 13,
    kExitOverflow = 14,
    kExitSignalBase = 128,  // + the signal's number, as a shell reports it
};

struct ExitCodeText {
    const char* code;
    const char* meaning;
};

// The table --help prints; the manual page lists the same codes.
inline constexpr ExitCodeText kExitCodeTexts[] = {
    {"0", "success: snapshot taken, COMMAND succeeded, snapshot removed (with --sweep: every leftover removed; with --dry-run: every check passed)"},
    {"2", "wrong command line (nothing was created)"},
    {"3", "the plug-in library could not be loaded"},
    {"4", "VOLUME (or the volume group) is not there, or the volume manager could not be asked about it"},
    {"5", "the plug-in could not be started"},
    {"6", "the snapshot could not be prepared (no free snapshot name)"},
    {"7", "the pre-snapshot command failed (no snapshot was taken)"},
    {"8", "the snapshot could not be created: not enough free space in the volume group (checked before creating), or the volume manager refused (its words are shown)"},
    {"9", "the post-snapshot command failed (COMMAND was not run)"},
    {"10", "COMMAND could not be started or did not succeed"},
    {"11", "the plug-in could not end the snapshot"},
    {"12", "a snapshot could not be removed (its name is shown: remove it by hand)"},
    {"13", "the plug-in could not be stopped cleanly"},
    {"14", "the snapshot overflowed while COMMAND ran: what COMMAND read is not usable; COMMAND was ended and the snapshot removed"},
    {"128+N", "interrupted by signal N (129 SIGHUP, 130 SIGINT, 131 SIGQUIT, 143 SIGTERM); the snapshot is removed all the same"},
};

}  // namespace snaphost
