// The machine and its users: the process-wide system record, account and host lookups,
// aligned blocks, and where an executable program lives.
//
// dsGetSystemInfo fills the record on its first call (once, whichever thread comes first) and
// hands out the same record afterwards; the record belongs to the library. Everything else keeps
// no state and may be called from any thread. Records and texts handed out belong to the caller:
// psFreeUserInfo releases a user record, ps_aligned_free an aligned block, arcFree the directory
// of psGetExecPath.
#pragma once

#include <sys/types.h>

#include "pisnp_export.h"

// The system record. Filled by the first dsGetSystemInfo; the argument fields and the
// executable directory are the caller's to set.
struct dsSystemInfo_t {
    int initialized;     // 1 once filled
    int reserved[2];     // 0
    char osRelease[20];  // the kernel's release ("" when uname fails)
    char osLevel[64];    // "LNX:" and the operating system's description
    int argc;            // as psSetArgcArgv stored them; 0 and null at first
    char** argv;
    unsigned char machineId[16];  // psGetGuid's bytes
    int machineIdRc;              // and its result
    // The client's executable directory, ending in "/"; null until its owner sets it, which
    // this library never does. A block from malloc, released by psUnInitialization.
    char* execDir;
    char platform[8];  // "PPC64"
    int flags[4];      // 0
};

PISNP_API extern dsSystemInfo_t gosSystemInfo;

PISNP_API dsSystemInfo_t* dsGetSystemInfo();
PISNP_API void psSetArgcArgv(int argc, char** argv);
// Releases the executable directory and clears it.
PISNP_API void psUnInitialization();

// Splits one line of a release file, KEY=value or KEY="value", around its first "=": key and
// value point into line, the lengths exclude the quotes and trailing white space. Without a key
// all four are empty (null and 0).
PISNP_API void parseReleaseLine(char* line, char*& key, unsigned long& keyLen, char*& value,
                                unsigned long& valueLen);

// An account: three texts and the record from malloc; released with psFreeUserInfo.
struct osUserInfo_t {
    char* userName;
    char* homeDir;
    char* loginShell;
    uid_t uid;
    gid_t gid;
};

// Null for an unknown account or without memory.
PISNP_API osUserInfo_t* psGetUserInfo(unsigned int uid);
PISNP_API osUserInfo_t* psGetUserInfo(char* name);
PISNP_API void psFreeUserInfo(osUserInfo_t* info);

// The host name, at most 64 characters; "" when it cannot be had. name needs 65 bytes.
PISNP_API void psGetComputerName(char* name);

// A block aligned to alignment (a power of two, a multiple of the pointer size), or null.
PISNP_API void* ps_aligned_malloc(unsigned long size, unsigned long alignment);
PISNP_API void ps_aligned_free(void* block);

// The directory of an executable program, ending in "/", found along PATH when program holds no
// "/". 0 with *directory set (a checked copy), or -1 when the program is not there. A null or
// empty program gives 0 and stores nothing.
PISNP_API int psGetExecPath(char* program, char** directory);

// This platform keeps no machine identifier: 16 zero bytes and 0.
PISNP_API int psGetGuid(unsigned char* id);

// Client settings that other platforms keep outside the environment.
enum arcEnvVar_t { arcEnvBaDir = 0 };
// Nothing of the kind on this platform: 1, and nothing written.
PISNP_API int psGetArcEnvVar(arcEnvVar_t var, char* buf, unsigned long size);

// 1 for the value 1, else 0.
PISNP_API int psSelEncodePattern(unsigned char pattern);
