// The portable file layer: stream wrappers, descriptor-level files and record locks, names and
// symbolic links, directories, temporary names, signal handlers, and the lock-file class.
//
// Failures come back as the library's return codes (resultCodes.h), mostly translated from
// errno by TransErrno (errors.h), and are traced under FILEOPS, GENERAL, ENTER and EXIT. Paths
// are at most 4,096 characters. Only psFileLock objects keep state, and a record lock belongs to
// the process: threads of one process do not exclude each other through it. Everything else
// may be called from any thread.
#pragma once

#include <fcntl.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>

#include "pisnp/handleLists.h"
#include "pisnp_export.h"

// ---- Streams (the first argument of the print family is accepted and ignored) --------------

// To standard output, flushed; the count printed.
[[gnu::format(printf, 2, 3)]] PISNP_API int pkPrintf(unsigned int, const char* fmt, ...);
// Into out, which the caller sizes: no bound is applied.
[[gnu::format(printf, 3, 4)]] PISNP_API int pkSprintf(unsigned int, char* out, const char* fmt,
                                                      ...);
[[gnu::format(printf, 3, 0)]] PISNP_API int pkVsprintf(unsigned int, char* out, const char* fmt,
                                                       va_list args);
// -1 for a null stream.
[[gnu::format(printf, 3, 4)]] PISNP_API int pkFprintf(unsigned int, FILE* stream, const char* fmt,
                                                      ...);
// Large files included. The wide form converts path (at most 4,096 bytes; a longer one is
// refused with ENAMETOOLONG).
PISNP_API FILE* pkFopen(const char* path, const char* mode);
PISNP_API FILE* pkFopen(const wchar_t* path, const char* mode);
PISNP_API char* pkFgets(char* buf, int size, FILE* stream);
PISNP_API int pkFputs(const char* text, FILE* stream);
// Not supported on this platform: null, 0, 0.
PISNP_API wchar_t* pkFgets(wchar_t* buf, int size, FILE* stream);
PISNP_API int pkFputs(const wchar_t* text, FILE* stream);
PISNP_API int pkLocateFile(...);
// remove and rename, as 16-bit results. The wide forms convert (remove: 4,096 bytes; rename:
// 255 bytes a name; a name that does not fit is refused with ENAMETOOLONG rather than cut).
PISNP_API short pkRemove(char* path);
PISNP_API short pkRemove(wchar_t* path);
PISNP_API short pkRename(const char* from, const char* to);
PISNP_API short pkRename(const wchar_t* from, const wchar_t* to);
// Copies a text file line by line; 1 when both files could be opened, else 0.
PISNP_API int pkCopyFile(char* src, char* dst);
PISNP_API int pkCopyFile(wchar_t* src, wchar_t* dst);
// Copies a file byte for byte in pieces of chunk bytes (at most 65,536): 0, or
// PISNP_RC_COPY_OPEN_FAILED, PISNP_RC_READ_FAILED, PISNP_RC_WRITE_FAILED (PISNP_RC_NO_MEMORY
// when the piece buffer cannot be had). The source is opened for update ("rb+").
PISNP_API int pkBinCopyFile(char* src, char* dst, unsigned long chunk);
PISNP_API int pkBinCopyFile(wchar_t* src, wchar_t* dst, unsigned long chunk);
// A copy of the wide format fmt in which the c and s conversions whose bit in mask is set
// (lowest bit: first conversion, "%%" counting as one) get the length letter "l". A checked
// block for the caller to free; null without memory.
PISNP_API wchar_t* scanstr(unsigned int mask, wchar_t* fmt);

// A new private System V shared memory block of size bytes, owned by the calling user and
// attached; its id goes to *shmId. Null on failure (then *shmId is 0 when no block could be made).
PISNP_API void* pkShmMalloc(unsigned long size, int* shmId);
// Detaches addr and removes block shmId; nothing for the id -1.
PISNP_API void pkReleaseShrMem(int shmId, void* addr);

// Installs handler for sig with an empty signal mask and no flags; a null handler restores the
// default action, SIG_IGN ignores the signal. Returns sigaction's result.
PISNP_API int pkInstallSignalHandler(int sig, void (*handler)(int));

// ---- Descriptors -------------------------------------------------------------------------------

// open(path, access | create, permissions); share, attributes and rc are not used. The
// descriptor, or -1.
PISNP_API int psFileOpen(char* path, unsigned int access, unsigned int share, unsigned int create,
                         unsigned int attributes, unsigned int permissions, int* rc);
// The bytes read (written); on failure 0 with *rc the translated errno, else *rc = 0. Writing
// nothing counts as a failure.
PISNP_API int psFileRead(int fd, void* buf, unsigned int len, int* rc);
PISNP_API int psFileWrite(int fd, void* buf, unsigned int len, int* rc);
PISNP_API int psFileClose(int fd);
// fcntl(fd, cmd) with a record lock of those values; its result.
PISNP_API int psFileLock(int fd, int cmd, int type, long start, int whence, long len);
// -1 when the query fails, 0 when such a lock could be placed, else the holder's process id.
PISNP_API int psFileLockTest(int fd, int type, long start, int whence, long len);

// ---- Names, existence, sizes ----------------------------------------------------------------

// Makes a bare name (no slash) a full path below the working directory; a name holding a
// slash leaves `out` untouched. Always 0.
PISNP_API int psBuildCurrentPath(char* out, char* name);
// 0 when path is a symbolic link (target, when given, receives where it points; 4,097 bytes),
// 104 when it is not one or cannot be reached, otherwise the translated errno.
PISNP_API int psIsFileSymLink(char* path, char* target);
// 0 when the link is gone (also when it was gone before), else the translated errno.
PISNP_API int psDeleteSymLink(char* path);
// 1 exactly when the file exists; 0 for a null or empty name.
PISNP_API int psFileExists(const char* name);
PISNP_API int psFileExists(const wchar_t* name);
// 0 with the size in *size, or -1.
PISNP_API int psFileGetFileSize(char* path, unsigned long* size, int);
// Not supported on this platform: both outputs 0, and 4321.
PISNP_API int psFileGetDirSize(char* path, unsigned long* size, unsigned long* count);
// A name in /tmp that no file has (out: 4,097 bytes); 0, or -1 for a null out or on failure.
PISNP_API int psFileTempName(char* out);
PISNP_API int psFileTempNameEx(char* out);
PISNP_API int psGetAccessibleTempName(char* out);

// ---- Directories -------------------------------------------------------------------------------

// Creates path (bits 0777 less the umask); 0 also when it exists, else the translated errno
// (109 for a null path). The second argument is not used.
PISNP_API int psFileCreateDir(char* path, void*);
// Creates every directory of path up to its last "/" (not the part after it); 1, or 0 when one
// cannot be created.
PISNP_API int psMakePath(char* path);
// Removes an empty directory: rmdir's result; 0 for a null or empty name.
PISNP_API int psFileRemoveDir(char* path);
// Removes a directory and everything below it, never following a symbolic link. 0 when done,
// and also when path is no directory or cannot be examined or opened; otherwise the first
// failure (a translated errno, or -1 when a directory cannot be removed).
PISNP_API int psFileRemoveDirEx(char* path);
// unlink: 0, or the translated errno.
PISNP_API int psFileRemove(char* path);
// List compare of two texts: 0 when equal, else 2.
PISNP_API int sourceCmp(void* a, void* b);

// An item of the lists the enumeration makes.
struct psEnumEntry_t {
    char* path;  // the entry's full path, owned
    int isFile;  // 1 for anything that is not a directory, 0 for a directory
};
// The lists' item destructor: releases path and the record.
PISNP_API void FreeEnumEntry(void* entry);

// What the enumeration lists: bit 0x1 files (anything but directories), bit 0x2 directories.
inline constexpr unsigned int kEnumFiles = 0x1;
inline constexpr unsigned int kEnumDirs = 0x2;

// Makes *list (which must be null) a new list of the entries of dir whose names match pattern
// ("*" any run, "?" one character; null matches every name), descending into subdirectories when
// recurse is 1 (but never through a symbolic link). 0, or PISNP_RC_INVALID_ARG (also when dir
// cannot be opened), PISNP_RC_NO_MEMORY, PISNP_RC_PATH_SKIPPED (an entry's path was too long and
// was left out), PISNP_RC_EXEC_FAILED (an entry could not be examined). The list holds what was
// found before a failure; the caller releases it with delete_LinkedList. The further arguments
// are not used.
PISNP_API int psFileEnumEntries(char* dir, char* pattern, int recurse, LinkedList_t** list,
                                unsigned int what, ...);
// The same into an existing list.
PISNP_API int EnumerateEntriesInDir(const char* dir, const char* pattern, int recurse,
                                    LinkedList_t* list, unsigned int what);

// ---- For other platforms: these answer with a constant here ------------------------------------

PISNP_API int psFileGetTime(...);                  // 0
PISNP_API int psGetAllocationGranularity(...);     // 0
PISNP_API int psFileMapView(...);                  // 0
PISNP_API int psFileMap(...);                      // 0
PISNP_API int psFileMapEx(...);                    // 0
PISNP_API int psFileRename(...);                   // 0
PISNP_API int psFileSeek(...);                     // 0
PISNP_API int psFileSeek64(...);                   // 0
PISNP_API int psFileSetTime(...);                  // 0
PISNP_API int psIsHardLink(...);                   // 0
PISNP_API int psFileRemoveEx(...);                 // 906
PISNP_API int psFileRenameEx(...);                 // 906
PISNP_API int psFileCaseDirectory(...);            // 906
PISNP_API int psFileEnumEntriesWithCallback(...);  // 4321
PISNP_API int psFileBackupCopyWithCallback(...);   // -1
PISNP_API int psResetAccessDate(...);              // -1
PISNP_API int psCreateFileMap(...);                // -1
PISNP_API void psFileUnmap(...);
PISNP_API void psMoveFilesInDir(...);

// ---- Lock files
// ----------------------------------------------------------------------------------

// Guards a lock file with an exclusive record lock over the whole file. The function psFileLock
// above hides the class name: declare objects as `class psFileLock lock;`.
//
// Each operation answers 1 for success and 0 for failure, and leaves the failing call's errno in
// errno and lastErrno. A lock file that is not a regular file (a symbolic link, a directory, a
// device) is removed and replaced by a new regular file; the lock file stays on disk after
// closeLockFile.
class PISNP_API psFileLock {
  public:
    psFileLock();
    ~psFileLock();
    psFileLock(const psFileLock&) = delete;
    psFileLock& operator=(const psFileLock&) = delete;

    // Opens (creating it when missing, with bits mode when non-zero, else 0666 less the umask)
    // the lock file. 1 also when it is open already.
    int createLockFile(char* name, unsigned int mode);
    int createLockFile(wchar_t* name, unsigned int mode);
    // wait 1 waits for the lock; any other value fails at once when another process holds it.
    int lockExclusive(int wait);
    int unlock();
    // 1 when another process holds a conflicting lock; 0 otherwise and on failure.
    int isLocked();
    // Closes the file (releasing this process's lock) and resets every field.
    void closeLockFile();

    int fd;             // the open lock file, -1 when closed
    int lastErrno;      // errno of the last failure, 0 after a successful open, -1 when closed
    int created;        // 1 when this object created the file, 0 when it found it
    FILE* stream;       // the lock file opened for update, or null
    struct flock lock;  // the last lock asked for
};
