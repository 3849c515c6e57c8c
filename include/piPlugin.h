/* Plug-in interface of libPiSNP.so: what the host calls first and last.
 *
 * Conventions of this interface:
 *  - The host calls piQueryApp, then piSnapshotInit, then any number of snapshot entry points
 *    (bkpSnapshot.h), then piTerminate, from one thread at a time.
 *  - Every record is owned by the host. The library copies what it keeps; it never frees a host
 *    record and keeps only the address of the host services object, for its whole life.
 *  - Results are integer return codes, 0 for success. No pointer argument may be null unless its
 *    description says so.
 *  - Records are read and written at fixed byte offsets; each offset below is checked at compile
 *    time. Fields named reserved are not touched by the library.
 *  - A piSnapshotInit that fails leaves nothing started, so that it can be called again (also
 *    after a piQueryApp that was missing). piQueryApp and piSnapshotInit return 109 for a null
 *    record. */
#ifndef PI_PLUGIN_H
#define PI_PLUGIN_H

#include <stdint.h>

#include "pisnp_export.h"
#include "pisnp_layout.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct piHostServices_t piHostServices_t;

#if defined(__GNUC__) || defined(__clang__)
#define PI_PRINTF_LIKE(fmtArg, firstArg) __attribute__((format(printf, fmtArg, firstArg)))
#else
#define PI_PRINTF_LIKE(fmtArg, firstArg)
#endif

/* The host's trace operation: printf-style, called with the caller's source file and line. The
 * library calls it only while the host's trace switch is on. */
typedef void (*piHostTraceOp_t)(piHostServices_t* self, const char* file, int line, const char* fmt,
                                ...) PI_PRINTF_LIKE(4, 5);
/* The host's message operation: reports catalog message msgNum with its inserts. buf is 8768
 * bytes of scratch that the library frees right after the call without reading it, so all
 * reporting happens inside the call. */
typedef void (*piHostMsgOp_t)(piHostServices_t* self, char* buf, int msgNum, ...);
/* Any other slot of the host's table; the library never calls one. */
typedef void (*piHostOp_t)(void);

#define PI_HOST_MSGBUF_SIZE 8768

/* The host's table of operations, 8 bytes per slot. Only slots 66 and 69 are used. */
typedef struct piHostOps_t {
    piHostOp_t reserved0[66];
    piHostTraceOp_t trace; /* slot 66 */
    piHostOp_t reserved67[2];
    piHostMsgOp_t message; /* slot 69 */
} piHostOps_t;
PISNP_AT(piHostOps_t, trace, 528);
PISNP_AT(piHostOps_t, message, 552);

/* The host's options, as far as the library reads them: two NUL-terminated strings. The host's
 * record may be longer and the strings may run beyond the room shown; the library copies them
 * whole. */
typedef struct piHostOptions_t {
    char reserved0[26];
    char msgRepository[8449]; /* message repository name; must not be empty */
    char clientDir[4097];     /* client directory; empty for the default */
} piHostOptions_t;
PISNP_AT(piHostOptions_t, msgRepository, 26);
PISNP_AT(piHostOptions_t, clientDir, 8475);

/* The host services object, as far as the library reads it. The host's object continues beyond
 * the options pointer. */
struct piHostServices_t {
    const piHostOps_t* ops;
    unsigned char reserved8[6];
    unsigned char traceOn; /* non-zero while the host wants the plug-in's trace lines */
    unsigned char reserved15[849];
    piHostOptions_t* options;
};
PISNP_AT(piHostServices_t, ops, 0);
PISNP_AT(piHostServices_t, traceOn, 14);
PISNP_AT(piHostServices_t, options, 864);

/* The host's provider information: one pointer to a block of PI_PROVIDER_INFO_SIZE bytes that
 * the library copies for provider type 4 only. */
typedef struct piSnapProviderInfo_t {
    void* info;
} piSnapProviderInfo_t;
PISNP_SIZE(piSnapProviderInfo_t, 8);

#define PI_PROVIDER_INFO_SIZE 33304

/* First argument of piSnapshotInit. */
typedef struct piSnapshotInitIn_t {
    uint64_t reserved0;
    piHostServices_t* hostServices; /* kept by the library until it is unloaded */
    piSnapProviderInfo_t providerInfo;
} piSnapshotInitIn_t;
PISNP_AT(piSnapshotInitIn_t, hostServices, 8);
PISNP_AT(piSnapshotInitIn_t, providerInfo, 16);

/* Second argument of piSnapshotInit: receives the provider's version. */
typedef struct piSnapshotInitOut_t {
    uint32_t reserved0;
    uint16_t versionMajor;
    uint16_t versionMinor;
} piSnapshotInitOut_t;
PISNP_AT(piSnapshotInitOut_t, versionMajor, 4);
PISNP_AT(piSnapshotInitOut_t, versionMinor, 6);

/* The snapshot attribute record (20 bytes). */
typedef struct piSnapAttrib_t {
    uint16_t attribVersion; /* 1 */
    uint16_t reserved2;
    uint32_t attribLevel;  /* 2 */
    uint32_t providerType; /* 2: the volume manager provider */
    uint32_t capabilities; /* 9 */
    uint32_t reserved16;   /* 0 */
} piSnapAttrib_t;
PISNP_AT(piSnapAttrib_t, attribLevel, 4);
PISNP_AT(piSnapAttrib_t, providerType, 8);
PISNP_AT(piSnapAttrib_t, capabilities, 12);
PISNP_AT(piSnapAttrib_t, reserved16, 16);
PISNP_SIZE(piSnapAttrib_t, 20);

/* Application information, filled by piQueryApp. The values are fixed; their meaning lies with
 * the host. Only hostAttrib is read: the host sets it. */
typedef struct piAppInfo_t {
    uint16_t infoVersion; /* 3 */
    char appName[17];     /* "PISNAPSHOT" */
    char libName[256];    /* "libPiSNP.so" */
    char banner[1025];
    uint16_t appKind;    /* 8 */
    uint16_t apiVersion; /* 1 */
    uint16_t apiRelease; /* 10 */
    uint16_t reserved1306;
    uint32_t capabilities; /* the attribute record's capabilities */
    uint8_t level;         /* 9 */
    uint8_t reserved1313[7];
    piSnapAttrib_t*
        hostAttrib;        /* set by the host: receives a copy of the attributes; may be null */
    uint16_t reserved1328; /* written as 0 */
    char extra[6];         /* written as the empty string */
} piAppInfo_t;
PISNP_AT(piAppInfo_t, infoVersion, 0);
PISNP_AT(piAppInfo_t, appName, 2);
PISNP_AT(piAppInfo_t, libName, 19);
PISNP_AT(piAppInfo_t, banner, 275);
PISNP_AT(piAppInfo_t, appKind, 1300);
PISNP_AT(piAppInfo_t, apiVersion, 1302);
PISNP_AT(piAppInfo_t, apiRelease, 1304);
PISNP_AT(piAppInfo_t, capabilities, 1308);
PISNP_AT(piAppInfo_t, level, 1312);
PISNP_AT(piAppInfo_t, hostAttrib, 1320);
PISNP_AT(piAppInfo_t, reserved1328, 1328);
PISNP_AT(piAppInfo_t, extra, 1330);
PISNP_SIZE(piAppInfo_t, 1336);

/* Fills *info and the attribute record. Returns 0. The first argument is not used. */
PISNP_API int piQueryApp(void* unused, piAppInfo_t* info);
/* Starts the library. 0, or 24 when piQueryApp was not called, 102 without memory, 610 when the
 * message system cannot start, or the provider's code. */
PISNP_API int16_t piSnapshotInit(piSnapshotInitIn_t* in, piSnapshotInitOut_t* out);
/* Tears the library down, whatever state it is in. 0 on success. */
PISNP_API int piTerminate(void);

/* Forms for hosts that look the entry points up with dlsym. */
typedef int (*piQueryApp_fn)(void*, piAppInfo_t*);
typedef int16_t (*piSnapshotInit_fn)(piSnapshotInitIn_t*, piSnapshotInitOut_t*);
typedef int (*piTerminate_fn)(void);

#ifdef __cplusplus
}
#endif

#endif /* PI_PLUGIN_H */
