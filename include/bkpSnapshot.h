/* Snapshot interface of libPiSNP.so: the records and entry points that drive one snapshot.
 *
 * Between piSnapshotInit and piTerminate (piPlugin.h) the host creates a snapshot, gets back a
 * 32-bit handle, and passes that handle to every later call. Results are 16-bit signed codes:
 * 0 success, -1 unknown handle or missing record, 1 no memory, 2 invalid parameter, 3 and 4 a
 * failed pre- or post-snapshot command, 24 unknown handle to prepare; other codes come from the
 * provider. The host owns every record it passes; the library copies the volume list and the
 * command strings. Only bkpSnapshotStatusCallback may arrive from a second host thread, while
 * the snapshot is being terminated.
 *
 * For a host that runs as root, the library departs from its first behaviour here:
 *  - The first volume's device path must be /dev/<group>/<volume>, both names of letters,
 *    digits and + _ . - (not starting with -, not . or .., at most 127 characters). Any other
 *    path is refused when the snapshot is prepared, with BKP_RC_INVALID_VOLUME_PATH (25) and
 *    message 5250, before any command is run.
 *  - bkpTerminateSnapshot removes a snapshot only when this handle's own lvcreate made it; after
 *    a failed bkpStartSnapshot it runs nothing and returns 0.
 *  - A name that another process took in the same second is retried with the next second's
 *    name within the usual five one-second pauses.
 *  - While a handle's snapshot stands, preparing (bkpInitializeSnapshot mode 2) or starting it
 *    again returns BKP_RC_SNAPSHOT_STANDS (26); the handle and its snapshot stay.
 *  - bkpOBFGetInfo returns 2 for a null record.
 *  - A status callback that is still inside the provider when termination's wait of twenty
 *    seconds ends keeps the provider alive until it returns; one that comes later returns -1. */
#ifndef BKP_SNAPSHOT_H
#define BKP_SNAPSHOT_H

#include <stdint.h>

#include "bkpSnapVolumeList.h"
#include "piPlugin.h"
#include "pisnp_export.h"
#include "pisnp_layout.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The 32-bit boolean of the interfaces: 0 false, anything else true. */
typedef int32_t arcBool_t;

/* Passed to the provider's clean-up after a failure. */
typedef enum bkpSnapshotStopMode {
    bkpStopAfterFailedPrepare = 0,
    bkpStopAtShutdown = 1
} bkpSnapshotStopMode;
PISNP_SIZE(bkpSnapshotStopMode, 4);

/* Records that the library passes through to the provider without reading them. */
typedef struct piSnapshotActionIn_t piSnapshotActionIn_t;
typedef struct piSnapshotActionOut_t piSnapshotActionOut_t;

typedef struct nfExtentListHdr {
    unsigned char data[30];
} nfExtentListHdr;
PISNP_SIZE(nfExtentListHdr, 30);

/* Where the snapshot can be read: written by the start of a snapshot. */
typedef struct bkpSnapshotProperties_t {
    uint16_t propsVersion; /* 1 */
    char devicePath[9220]; /* NUL-terminated */
} bkpSnapshotProperties_t;
PISNP_AT(bkpSnapshotProperties_t, devicePath, 2);
PISNP_SIZE(bkpSnapshotProperties_t, 9222);

/* A provider's error information, copied as a whole. */
typedef struct bkpSnapshotErrorInfo_t {
    unsigned char data[8776];
} bkpSnapshotErrorInfo_t;
PISNP_SIZE(bkpSnapshotErrorInfo_t, 8776);

/* Status of a running snapshot; cleared by the library before the provider fills it. */
typedef struct bkpSnapshotStatus {
    unsigned char data[48];
} bkpSnapshotStatus;
PISNP_SIZE(bkpSnapshotStatus, 48);

/* Parameters of a new snapshot or snapshot set. */
typedef struct bkpSnapshotInitIn_t {
    unsigned char reserved0[16];
    char* preSnapshotCmd;  /* shell command run before the snapshot; may be null */
    char* postSnapshotCmd; /* shell command run after the snapshot; may be null */
    uint32_t snapParam1;
    uint32_t snapParam2; /* replaced by snapParam1 when snapParam2Set is 0 */
    uint32_t snapParam2Set;
    uint32_t snapParam3;
    uint32_t snapParam4;
    uint32_t reserved52;
    void* snapContext; /* handed to the provider, never dereferenced */
    arcBool_t initFlag;
    uint32_t reserved68;
} bkpSnapshotInitIn_t;
PISNP_AT(bkpSnapshotInitIn_t, preSnapshotCmd, 16);
PISNP_AT(bkpSnapshotInitIn_t, postSnapshotCmd, 24);
PISNP_AT(bkpSnapshotInitIn_t, snapParam1, 32);
PISNP_AT(bkpSnapshotInitIn_t, snapParam2, 36);
PISNP_AT(bkpSnapshotInitIn_t, snapParam2Set, 40);
PISNP_AT(bkpSnapshotInitIn_t, snapParam3, 44);
PISNP_AT(bkpSnapshotInitIn_t, snapParam4, 48);
PISNP_AT(bkpSnapshotInitIn_t, snapContext, 56);
PISNP_AT(bkpSnapshotInitIn_t, initFlag, 64);
PISNP_SIZE(bkpSnapshotInitIn_t, 72);

/* Result record of bkpStartSnapshot. */
typedef struct bkpSnapshotStartOut_t {
    unsigned char reserved0[12];
    bkpSnapshotProperties_t props;
} bkpSnapshotStartOut_t;
PISNP_AT(bkpSnapshotStartOut_t, props, 12);
PISNP_SIZE(bkpSnapshotStartOut_t, 9234);

/* Record of bkpPreStartSnapshot and bkpPostStartSnapshot. */
typedef struct bkpSnapshotCmdRec_t {
    int32_t reserved0;
    int32_t cmdRc;        /* receives the command's return code */
    int32_t postNeedsPre; /* 1: run the post-snapshot command only when there is a pre command */
} bkpSnapshotCmdRec_t;
PISNP_AT(bkpSnapshotCmdRec_t, cmdRc, 4);
PISNP_AT(bkpSnapshotCmdRec_t, postNeedsPre, 8);
PISNP_SIZE(bkpSnapshotCmdRec_t, 12);

/* Record of bkpOBFGetInfo. */
typedef struct bkpOBFInfo_t {
    uint16_t obfVersion; /* set to 1 */
    nfExtentListHdr extents;
    char info1[2305];
    char info2[2305];
} bkpOBFInfo_t;
PISNP_AT(bkpOBFInfo_t, extents, 2);
PISNP_AT(bkpOBFInfo_t, info1, 32);
PISNP_AT(bkpOBFInfo_t, info2, 2337);

/* Modes of the initialising entry points. */
#define BKP_SNAPSET_MODE_CREATE 0
#define BKP_SNAPSET_MODE_PREPARE 1
#define BKP_SNAP_MODE_CREATE_AND_PREPARE 0
#define BKP_SNAP_MODE_CREATE 1
#define BKP_SNAP_MODE_PREPARE 2

PISNP_API int16_t bkpInitializeSnapshotSet(void* unused, bkpSnapshotInitIn_t* in, unsigned int mode,
                                           unsigned int* handle);
PISNP_API int16_t bkpInitializeSnapshot(bkpSnapVolumeList_t* volumes, bkpSnapshotInitIn_t* in,
                                        unsigned int mode, unsigned int* handle,
                                        unsigned int initArg);
PISNP_API int16_t bkpTerminateSnapshot(unsigned int handle);
PISNP_API int16_t bkpStartSnapshot(unsigned int handle, bkpSnapshotStartOut_t* out);
PISNP_API int16_t bkpPreStartSnapshot(unsigned int handle, bkpSnapshotCmdRec_t* rec);
PISNP_API int16_t bkpPostStartSnapshot(unsigned int handle, bkpSnapshotCmdRec_t* rec);
PISNP_API int16_t bkpEndSnapshot(unsigned int handle, arcBool_t flag);
PISNP_API int16_t bkpOBFGetInfo(unsigned int handle, bkpOBFInfo_t* info);
PISNP_API int16_t bkpSnapshotStatusCallback(unsigned int handle, bkpSnapshotStatus* status);
PISNP_API int16_t bkpSnapshotGetErrorInfo(unsigned int handle, bkpSnapshotErrorInfo_t* info);
PISNP_API int16_t bkpCancelSnapshot(unsigned int handle, unsigned int value);
PISNP_API int16_t bkpSnapshotAction(unsigned int handle, piSnapshotActionIn_t* in,
                                    piSnapshotActionOut_t* out);

/* Forms for hosts that look the entry points up with dlsym. */
typedef int16_t (*bkpInitializeSnapshotSet_fn)(void*, bkpSnapshotInitIn_t*, unsigned int,
                                               unsigned int*);
typedef int16_t (*bkpInitializeSnapshot_fn)(bkpSnapVolumeList_t*, bkpSnapshotInitIn_t*,
                                            unsigned int, unsigned int*, unsigned int);
typedef int16_t (*bkpTerminateSnapshot_fn)(unsigned int);
typedef int16_t (*bkpStartSnapshot_fn)(unsigned int, bkpSnapshotStartOut_t*);
typedef int16_t (*bkpPreStartSnapshot_fn)(unsigned int, bkpSnapshotCmdRec_t*);
typedef int16_t (*bkpPostStartSnapshot_fn)(unsigned int, bkpSnapshotCmdRec_t*);
typedef int16_t (*bkpEndSnapshot_fn)(unsigned int, arcBool_t);
typedef int16_t (*bkpOBFGetInfo_fn)(unsigned int, bkpOBFInfo_t*);
typedef int16_t (*bkpSnapshotStatusCallback_fn)(unsigned int, bkpSnapshotStatus*);
typedef int16_t (*bkpSnapshotGetErrorInfo_fn)(unsigned int, bkpSnapshotErrorInfo_t*);
typedef int16_t (*bkpCancelSnapshot_fn)(unsigned int, unsigned int);
typedef int16_t (*bkpSnapshotAction_fn)(unsigned int, piSnapshotActionIn_t*,
                                        piSnapshotActionOut_t*);

#ifdef __cplusplus
}
#endif

#endif /* BKP_SNAPSHOT_H */
