/* Every result code that an entry point or a runtime function of libPiSNP.so returns, and the
 * numbers of the messages the library sends to its host, in one place.
 *
 * Two families of codes:
 *  - PISNP_RC_: the runtime's functions (int). 0 is success; a number means the same thing in
 *    every function that returns it.
 *  - BKP_RC_: the snapshot entry points (bkpSnapshot.h), which return 16-bit signed codes, and
 *    the snapshot providers and registry, whose codes the entry points pass on. Their numbers
 *    overlap those of the runtime with other meanings. The plug-in entry points (piPlugin.h)
 *    return codes of either family, as their descriptions say.
 * Usable from C and C++. */
#ifndef PISNP_RESULT_CODES_H
#define PISNP_RESULT_CODES_H

/* ---- Runtime functions ------------------------------------------------------------------ */
#define PISNP_RC_OK 0
/* Out of memory. */
#define PISNP_RC_NO_MEMORY 102
/* No such file or object; not a symbolic link. As a child's exit status: the program to run
 * does not exist. */
#define PISNP_RC_NOT_FOUND 104
/* No permission. As a child's exit status: the program to run may not be run. */
#define PISNP_RC_ACCESS_DENIED 106
/* The file or directory already exists. */
#define PISNP_RC_ALREADY_EXISTS 108
/* An argument is null or out of range. */
#define PISNP_RC_INVALID_ARG 109
/* No space left on the device. */
#define PISNP_RC_DISK_FULL 111
/* The resource is busy for now; trying again later may succeed. */
#define PISNP_RC_TRY_AGAIN 112
/* An unknown error from a lower level; treated like PISNP_RC_UNEXPECTED. */
#define PISNP_RC_UNKNOWN 114
/* A child's exit status: its program could not be run for another reason. Also: an entry of a
 * directory being listed cannot be examined. */
#define PISNP_RC_EXEC_FAILED 115
/* The program file is busy. */
#define PISNP_RC_FILE_BUSY 116
/* Too many symbolic links on the way. */
#define PISNP_RC_TOO_MANY_LINKS 118
/* A file name is too long. */
#define PISNP_RC_NAME_TOO_LONG 119
/* A directory entry's path is too long and was skipped. */
#define PISNP_RC_PATH_SKIPPED 128
/* An unexpected system error: an errno without a code of its own, a failed wait. */
#define PISNP_RC_UNEXPECTED 131
/* Reading a file failed or ended short. */
#define PISNP_RC_READ_FAILED 152
/* The file system is read-only. */
#define PISNP_RC_READ_ONLY_FS 158
/* The object is remote. */
#define PISNP_RC_REMOTE_OBJECT 163
/* An input/output error, too many open files, a directory not empty, a host down. */
#define PISNP_RC_IO_ERROR 164
/* Writing a file wrote less than asked. */
#define PISNP_RC_WRITE_FAILED 165
/* The file is too large. */
#define PISNP_RC_FILE_TOO_BIG 166
/* A stale file handle of a network file system. */
#define PISNP_RC_STALE_HANDLE 171
/* A quoted token without its closing quote. */
#define PISNP_RC_BAD_QUOTES 177
/* A text is not valid in the locale's character set. */
#define PISNP_RC_NOT_CONVERTIBLE 207
/* The trace file cannot be opened. */
#define PISNP_RC_TRACE_OPEN_FAILED 426
/* The disk quota is exhausted. */
#define PISNP_RC_QUOTA_EXCEEDED 431
/* A value (a file size, an offset) does not fit the type the call uses. */
#define PISNP_RC_VALUE_OVERFLOW 434
/* The message system cannot start (no catalog). */
#define PISNP_RC_MSG_SYS_START_FAILED 610
/* A line could not be written to the error log. */
#define PISNP_RC_LOG_WRITE_FAILED 621
/* A read or write on a descriptor that cannot seek (a pipe, a socket). */
#define PISNP_RC_ILLEGAL_SEEK 815
/* A read or write on a connection the other side aborted. */
#define PISNP_RC_CONNECTION_ABORTED 816
/* No child process could be created. */
#define PISNP_RC_NO_CHILD 901
/* Not supported on this platform (file functions). */
#define PISNP_RC_NOT_SUPPORTED 906
/* Another thread holds the mutex. */
#define PISNP_RC_MUTEX_BUSY 932
/* Locking the mutex would deadlock. */
#define PISNP_RC_DEADLOCK 936
/* A token longer than its buffer. */
#define PISNP_RC_TOKEN_TOO_LONG 937
/* A file to copy, or its copy, cannot be opened. */
#define PISNP_RC_COPY_OPEN_FAILED 942
/* A file name is a symbolic link where none is allowed. */
#define PISNP_RC_SYMLINK_REFUSED 959
/* A wait reached its time limit. */
#define PISNP_RC_TIMED_OUT 964
/* Not supported on this platform (process functions). */
#define PISNP_RC_NOT_ON_PLATFORM 4321
/* The message catalog cannot be read. */
#define PISNP_RC_CATALOG_FAILURE 9999

/* ---- Snapshot entry points, providers and registry (16-bit signed) ----------------------- */
#define BKP_RC_OK 0
/* Unknown handle, a required record is null, or there is no registry. */
#define BKP_RC_UNKNOWN_HANDLE (-1)
/* No provider could be created; a provider or the registry's list ran out of memory. */
#define BKP_RC_NO_MEMORY 1
/* A null argument or an unknown mode. */
#define BKP_RC_INVALID_PARAMETER 2
/* The pre-snapshot command returned non-zero (its code is in the command record). */
#define BKP_RC_PRE_COMMAND_FAILED 3
/* The post-snapshot command returned non-zero (its code is in the command record). */
#define BKP_RC_POST_COMMAND_FAILED 4
/* No free snapshot name was found, or lvcreate failed. */
#define BKP_RC_CREATE_FAILED 5
/* The handle to prepare is unknown; also: lvremove failed, and start-up without a valid
 * provider type. */
#define BKP_RC_NOT_FOUND 24
/* The volume's device path is not /dev/VG/LV with volume manager names (letters, digits and
 * + _ . -, not starting with -, not . or .., at most 127 characters): refused before any command
 * line is written. */
#define BKP_RC_INVALID_VOLUME_PATH 25
/* The snapshot of this handle stands (its lvcreate succeeded and it was not removed yet): it is
 * not prepared or started again, and the handle keeps its names. */
#define BKP_RC_SNAPSHOT_STANDS 26
/* Volume lists: two nodes name one volume with different data. */
#define BKP_RC_SNAP_VOLUME_CONFLICT 6054
/* bkpOBFGetInfo answers an unknown handle with PISNP_RC_NO_MEMORY (102); piSnapshotInit passes
 * on PISNP_RC_NO_MEMORY and PISNP_RC_MSG_SYS_START_FAILED. */

/* The handle value that stands for "no handle" where a registry function returns a handle. */
#define BKP_NO_HANDLE 0xFFFFFFFFu

/* ---- Messages the library sends to the host's message operation ------------------------- */
/* lvcreate failed. Inserts: const char* function, const char* captured error text, int return
 * code, const char* source file, int line. */
#define MSG_SNAP_CREATE_FAILED 5250
/* lvremove failed. Inserts: const char* command line, const char* function, const char*
 * captured error text, int return code, const char* source file, int line. */
#define MSG_SNAP_REMOVE_FAILED 8103

#endif /* PISNP_RESULT_CODES_H */
