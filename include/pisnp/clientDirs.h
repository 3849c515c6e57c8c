// Where the backup client's files live, and a few questions about paths and processes: the
// installation, staging and change-log directories, the certificate key databases, the library
// path, file-system borders and types, whether a process runs, and the core dumps here.
//
// Nothing keeps state; every function may be called from any thread, though the environment
// they read (ARC_DIR, HOME, LD_LIBRARY_PATH) and the working directory belong to the whole
// process. Texts handed out are checked blocks for the caller to free (arcFree); lists are
// released with delete_LinkedList.
#pragma once

#include <cwchar>

#include "pisnp/handleLists.h"
#include "pisnp_export.h"
#include "pisnp_layout.h"

// Installation directory when ARC_DIR does not name one.
inline constexpr char kBaDirDefault[] = "/opt/kestra/bkp/client/ba/bin/";
// The programming interface's directory.
inline constexpr char kApiDir[] = "/opt/kestra/bkp/client/api/bin64";
inline constexpr char kDefaultStagingDir[] = "/tmp/BKP/";
// Below the home directory: the user's certificate key database.
inline constexpr char kLocalCertDir[] = "QRA/Harbormind/certs/";
// The result of psGetGlobalKeyDBDir when no directory can be found and no file was asked for.
inline constexpr int kNoClientDir = -363;

// The host's options record, as far as these services read it: the client directory where the
// plug-in reads it too (piPlugin.h), followed by the directory of the client's configuration
// file. Both NUL-terminated, empty when not set.
struct clientOptions {
    char reserved0[26];
    char msgRepository[8449];
    char clientDir[4097];
    char configDir[4097];
};
PISNP_AT(clientOptions, clientDir, 8475);
PISNP_AT(clientOptions, configDir, 12572);

// The installation directory, ending in "/": ARC_DIR when set and not empty, else
// kBaDirDefault; cut to size (elements). 0.
PISNP_API int psGetBADir(char* buf, unsigned long size);
PISNP_API int psGetBADir(wchar_t* buf, unsigned long size);
// *dir (which must be null) = a copy of kDefaultStagingDir. 0, 109 or 102.
PISNP_API int psGetDefaultStagingDir(char** dir);
// *dir (which must be null) = a copy of the installation directory. 0, 109 or 102.
PISNP_API int psGetDefaultSnapdiffChangeLogDir(char** dir);
// 1 when the installation directory (without its final "/") stands in LD_LIBRARY_PATH before a
// ":" or at its end, else 0. A final "/" of the variable is removed from the environment first.
PISNP_API int psCheckLibPath();
// Every run of "/" in path becomes one "/", in place.
PISNP_API void psRemoveUnnecessaryDelimiters(char* path);
PISNP_API void psRemoveUnnecessaryDelimiters(wchar_t* path);
// 1 when a directory on path's way up (below stopDir) is a symbolic link to a directory on
// another device, else 0.
PISNP_API int psDoesPathCrossFSBorder(char* path, char* stopDir);
// 0 with *equal 1 when both paths lie on file systems of the same type, 0 when not; -1 when
// either cannot be examined.
PISNP_API int psAreFSTypesEqual(char* a, char* b, int* equal);
// True unless no process pid exists (one of another user counts as running).
PISNP_API bool psIsProcessRunning(int pid);
// Not supported by name on this platform: 0.
PISNP_API int psIsProcessRunning(char* name);
// Sets the terminal's title through standard output.
PISNP_API void psSetWindowTitle(char* title, int);
// True when the real user is root.
PISNP_API bool isUserAdmin();

// The directory of the certificate key database (ending in "/") into dirBuf: the first of the
// installation default, the interface directory, ARC_DIR (else opts' client directory) and opts'
// configuration directory that exists and, when fileName is not empty, holds that file; the test
// flag C2S_CERTDIR names the only candidate instead. 0; 104 when fileName is found nowhere (the
// buffer is then all zero); 109 for bad arguments; kNoClientDir when nothing is found.
PISNP_API int psGetGlobalKeyDBDir(clientOptions* opts, char* dirBuf, unsigned long bufSize,
                                  char* fileName);
PISNP_API int psGetGlobalKeyDBDir(clientOptions* opts, wchar_t* dirBuf, unsigned long bufSize,
                                  wchar_t* fileName);
// The user's key database directory, HOME/kLocalCertDir: 0, or -1 (dirBuf empty) without HOME
// or with the test flag C2C_DISABLE; 109 for bad arguments.
PISNP_API int psGetLocalKeyDBDir(char* dirBuf, unsigned long bufSize);
PISNP_API int psGetLocalKeyDBDir(wchar_t* dirBuf, unsigned long bufSize);

// *list = the core dumps of the working directory: files "core.N" (N all digits) that do not
// match the test flag EXCLUDECOREPATTERN, or, when there are none, the files named "core". With
// the test flag CORE_IGNORE, *list is left as it is.
PISNP_API void psFindDump(LinkedList_t** list);
