// The snapshot entry points that the host calls between piSnapshotInit and piTerminate.
//
// Each is thin: it checks its arguments, finds the provider for the host's handle in the
// registry, calls one provider operation and turns the outcome into a 16-bit code. The
// initialising ones also create and register providers, and forget them again at once when
// initialisation or preparation fails, after keeping the provider's error record in the registry
// so that the host can still ask for it.
#include <cstring>

#include "bkpSnapshot.h"
#include "mem/checkedAlloc.h"
#include "pisnp/processes.h"
#include "pisnp/resultCodes.h"
#include "pisnp/snapshotProvider.h"
#include "pisnp/snapshotRegistry.h"
#include "pisnp/strings.h"
#include "pisnp/threads.h"
#include "pisnp/timers.h"
#include "snapshot/hostServices.h"

namespace {

// How long termination keeps a provider alive for a status callback still inside it, and how
// often it looks.
constexpr unsigned int kCallbackWaitSeconds = 20;
constexpr int kCallbackPollMs = 1000;

constexpr char kSetFn[] = "bkpInitializeSnapshotSet";

int16_t code16(int rc) {
    return static_cast<int16_t>(rc);
}

// Creates a provider for a new handle and registers it. The new ID reaches the host through
// *handle at once, even when creation fails later. 0 with *out set, or the code to return.
int createProvider(bkpSnapVolumeList_t* volumes, bkpSnapshotInitIn_t* in, unsigned int* handle,
                   DssSnapshotProvider** out) {
    unsigned int id = DssGlobalData::gdGetNextSnapshotID();
    *handle = id;
    if (in->snapParam2Set == 0) in->snapParam2 = in->snapParam1;
    DssSnapshotProvider* provider =
        createSnapProvider(id, volumes, in->preSnapshotCmd, in->postSnapshotCmd, in->snapParam1,
                           in->snapParam2, in->snapParam3, in->snapParam4, in->snapContext);
    if (provider == nullptr) {
        SNAP_TRACE("bkpInitializeSnapshot(): No more memory\n");
        return BKP_RC_NO_MEMORY;
    }
    int rc = DssGlobalData::gdAddSnapshotInstance(provider);
    if (rc != 0) {
        // Not registered, so nothing would ever find it again to delete it.
        delete provider;
        return rc;
    }
    *out = provider;
    return 0;
}

// Keeps the provider's error record for the host, then forgets the provider.
void forgetAfterFailure(DssSnapshotProvider* provider) {
    bkpSnapshotErrorInfo_t error{};
    provider->getErrorInfo(&error);
    DssGlobalData::gdSetSnapError(&error);
    DssGlobalData::gdRemoveSnapshotInstance(provider->getSnapshotID());
    DssGlobalData::gdDisposeSnapshotInstance(provider);
}

// Runs one of the host's commands through the shell, waiting for it, and returns its code.
int runHostCommand(char* command) {
    // The command runs from a copy of its own, out of the provider's reach; without memory for
    // the copy the provider's text serves as well, since running a command only reads it.
    char* copy = StrDup(command);
    int rc = psCmdExecute(copy != nullptr ? copy : command, 1, nullptr, 0);
    if (copy != nullptr) ARC_FREE(copy);
    return rc;
}

// Waits until the status callbacks running in other threads have left the provider, or the time
// is up. Always pauses at least once. A callback still inside after that keeps the provider
// alive by its hold; it is deleted when that callback leaves.
void waitForStatusCallback(DssSnapshotProvider* provider) {
    void* timer = dsCreateTimer();
    dsStartTimer(timer, kCallbackWaitSeconds);
    // Without a timer the pauses themselves bound the wait.
    unsigned int pauses = 0;
    for (;;) {
        psThreadDelay(kCallbackPollMs);
        ++pauses;
        if (provider->getStatusCallbackRunning() == 0) break;
        if (timer != nullptr ? dsHasTimerPopped(timer) : pauses >= kCallbackWaitSeconds) break;
    }
    if (timer != nullptr) dsDestroyTimer(timer);
}

}  // namespace

int16_t bkpInitializeSnapshotSet(void*, bkpSnapshotInitIn_t* in, unsigned int mode,
                                 unsigned int* handle) {
    SNAP_TRACE("%s(): enter\n", kSetFn);
    if (in == nullptr || handle == nullptr) {
        SNAP_TRACE("%s(): ERROR: Invalid parameter\n", kSetFn);
        return BKP_RC_INVALID_PARAMETER;
    }
    switch (mode) {
        case BKP_SNAPSET_MODE_CREATE: {
            DssSnapshotProvider* provider = nullptr;
            int rc = createProvider(nullptr, in, handle, &provider);
            if (rc != 0) return code16(rc);
            rc = provider->initializeSnapshotSet();
            if (rc == 0) return 0;
            SNAP_TRACE("%s(): Error %d initializing snapshot set\n", kSetFn, rc);
            forgetAfterFailure(provider);
            return code16(rc);
        }
        case BKP_SNAPSET_MODE_PREPARE: {
            DssSnapshotProvider* provider = DssGlobalData::gdGetSnapshotInstance(*handle);
            if (provider == nullptr) {
                SNAP_TRACE("%s(): Unable to find snapshot set handle '%d'\n", kSetFn, *handle);
                return BKP_RC_NOT_FOUND;
            }
            // A set whose preparation fails stays usable; the failure is only worth a line.
            int rc = provider->beginPrepareSnapshot();
            if (rc != 0) SNAP_TRACE("%s(): Error '%d' preparing snapshot\n", kSetFn, rc);
            return 0;
        }
        default:
            SNAP_TRACE("%s(): ERROR: Invalid snap set mode '%d\n", kSetFn, mode);
            return BKP_RC_INVALID_PARAMETER;
    }
}

int16_t bkpInitializeSnapshot(bkpSnapVolumeList_t* volumes, bkpSnapshotInitIn_t* in,
                              unsigned int mode, unsigned int* handle, unsigned int initArg) {
    SNAP_TRACE("bkpInitializeSnapshot(): Entering...\n");
    if (volumes == nullptr || in == nullptr || handle == nullptr ||
        (mode != BKP_SNAP_MODE_CREATE_AND_PREPARE && mode != BKP_SNAP_MODE_CREATE &&
         mode != BKP_SNAP_MODE_PREPARE)) {
        SNAP_TRACE("bkpInitializeSnapshot(): ERROR: Invalid parameter\n");
        return BKP_RC_INVALID_PARAMETER;
    }

    DssSnapshotProvider* provider = nullptr;
    if (mode == BKP_SNAP_MODE_PREPARE) {
        provider = DssGlobalData::gdGetSnapshotInstance(*handle);
        if (provider == nullptr) {
            SNAP_TRACE("bkpInitializeSnapshot(): Unable to find snapHandle %d\n", *handle);
            return BKP_RC_NOT_FOUND;
        }
    } else {
        int rc = createProvider(volumes, in, handle, &provider);
        if (rc != 0) return code16(rc);
        rc = provider->initializeSnapshot(initArg, in->initFlag);
        if (rc != 0) {
            SNAP_TRACE("bkpInitializeSnapshot(): Error %d initializing snapshot\n", rc);
            forgetAfterFailure(provider);
            return code16(rc);
        }
        if (mode == BKP_SNAP_MODE_CREATE) return 0;
    }

    int rc = provider->beginPrepareSnapshot();
    if (rc == 0) return 0;
    SNAP_TRACE("bkpInitializeSnapshot(): Error %d preparing snapshot\n", rc);
    // Its snapshot stands: forgetting the handle would leave that snapshot without an owner.
    if (rc == BKP_RC_SNAPSHOT_STANDS) return code16(rc);
    // A snapshot that cannot be prepared is forgotten, whichever call made it.
    bkpSnapshotErrorInfo_t error{};
    provider->getErrorInfo(&error);
    DssGlobalData::gdSetSnapError(&error);
    provider->cleanUpOnError(bkpStopAfterFailedPrepare);
    DssGlobalData::gdRemoveSnapshotInstance(provider->getSnapshotID());
    DssGlobalData::gdDisposeSnapshotInstance(provider);
    return code16(rc);
}

int16_t bkpTerminateSnapshot(unsigned int handle) {
    SNAP_TRACE("bkpTerminateSnapshot(): Entering...\n");
    DssSnapshotProvider* provider = DssGlobalData::gdGetSnapshotInstance(handle);
    if (provider == nullptr) return BKP_RC_UNKNOWN_HANDLE;

    int deleteRc = provider->deleteSnapshot();
    // The host may be inside bkpSnapshotStatusCallback on another thread; the provider must
    // outlive that call.
    waitForStatusCallback(provider);

    bkpSnapshotErrorInfo_t error{};
    provider->getErrorInfo(&error);
    DssGlobalData::gdSetSnapError(&error);
    int removeRc = DssGlobalData::gdRemoveSnapshotInstance(provider->getSnapshotID());
    DssGlobalData::gdDisposeSnapshotInstance(provider);
    return code16(deleteRc != 0 ? deleteRc : removeRc);
}

int16_t bkpStartSnapshot(unsigned int handle, bkpSnapshotStartOut_t* out) {
    SNAP_TRACE("bkpStartSnapshot(): Entering...\n");
    DssSnapshotProvider* provider = DssGlobalData::gdGetSnapshotInstance(handle);
    if (provider == nullptr || out == nullptr) return BKP_RC_UNKNOWN_HANDLE;
    int rc = provider->endPrepareSnapshot();
    if (rc != 0) return code16(rc);
    std::memset(&out->props, 0, sizeof out->props);
    out->props.propsVersion = 1;
    return code16(provider->startSnapshot(&out->props));
}

int16_t bkpPreStartSnapshot(unsigned int handle, bkpSnapshotCmdRec_t* rec) {
    SNAP_TRACE("bkpPreStartSnapshot(): Entering...\n");
    DssSnapshotProvider* provider = DssGlobalData::gdGetSnapshotInstance(handle);
    if (provider == nullptr || rec == nullptr) return BKP_RC_UNKNOWN_HANDLE;
    char* command = provider->getPreSnapshotCmd();
    if (command == nullptr) return 0;
    rec->cmdRc = runHostCommand(command);
    return rec->cmdRc != 0 ? BKP_RC_PRE_COMMAND_FAILED : 0;
}

int16_t bkpPostStartSnapshot(unsigned int handle, bkpSnapshotCmdRec_t* rec) {
    SNAP_TRACE("bkpPostStartSnapshot(): Entering...\n");
    DssSnapshotProvider* provider = DssGlobalData::gdGetSnapshotInstance(handle);
    if (provider == nullptr || rec == nullptr) return BKP_RC_UNKNOWN_HANDLE;
    if (rec->postNeedsPre == 1 && provider->getPreSnapshotCmd() == nullptr) return 0;
    char* command = provider->getPostSnapshotCmd();
    if (command == nullptr) return 0;
    rec->cmdRc = runHostCommand(command);
    return rec->cmdRc != 0 ? BKP_RC_POST_COMMAND_FAILED : 0;
}

int16_t bkpEndSnapshot(unsigned int handle, arcBool_t flag) {
    SNAP_TRACE("bkpEndSnapshot(): Entering...\n");
    DssSnapshotProvider* provider = DssGlobalData::gdGetSnapshotInstance(handle);
    if (provider == nullptr) return BKP_RC_UNKNOWN_HANDLE;
    return code16(provider->endSnapshot(flag));
}

int16_t bkpOBFGetInfo(unsigned int handle, bkpOBFInfo_t* info) {
    SNAP_TRACE("bkpOBFGetInfo(): Entering...\n");
    if (info == nullptr) return BKP_RC_INVALID_PARAMETER;
    DssSnapshotProvider* provider = DssGlobalData::gdGetSnapshotInstance(handle);
    // Not BKP_RC_UNKNOWN_HANDLE: hosts have always seen 102 from this entry point.
    if (provider == nullptr) return PISNP_RC_NO_MEMORY;
    info->obfVersion = 1;
    return code16(provider->getOBFInfo(&info->extents, info->info1, info->info2));
}

// Not traced: it may run on another host thread while the snapshot is being terminated. The
// hold keeps the provider alive until the callback has left it, however long termination waits.
int16_t bkpSnapshotStatusCallback(unsigned int handle, bkpSnapshotStatus* status) {
    if (status == nullptr) return BKP_RC_UNKNOWN_HANDLE;
    DssSnapshotProvider* provider = DssGlobalData::gdHoldSnapshotInstance(handle);
    if (provider == nullptr) return BKP_RC_UNKNOWN_HANDLE;
    std::memset(status, 0, sizeof *status);
    int rc = provider->snapshotStatusCallback(status);
    // The provider may be deleted inside this call: nothing may touch it after.
    DssGlobalData::gdReleaseSnapshotInstance(provider);
    return code16(rc);
}

int16_t bkpSnapshotGetErrorInfo(unsigned int handle, bkpSnapshotErrorInfo_t* info) {
    SNAP_TRACE("bkpSnapshotGetErrorInfo(): Entering...\n");
    if (info == nullptr) return BKP_RC_UNKNOWN_HANDLE;
    std::memset(info, 0, sizeof *info);
    // A snapshot that failed is already forgotten; its error was kept in the registry.
    if (DssSnapshotProvider* provider = DssGlobalData::gdGetSnapshotInstance(handle))
        provider->getErrorInfo(info);
    else
        DssGlobalData::gdGetSnapError(info);
    return 0;
}

int16_t bkpCancelSnapshot(unsigned int handle, unsigned int value) {
    SNAP_TRACE("bkpCancelSnapshot(): Entering...\n");
    DssSnapshotProvider* provider = DssGlobalData::gdGetSnapshotInstance(handle);
    if (provider == nullptr) return BKP_RC_UNKNOWN_HANDLE;
    return code16(provider->cancelSnapshot(value));
}

int16_t bkpSnapshotAction(unsigned int handle, piSnapshotActionIn_t* in,
                          piSnapshotActionOut_t* out) {
    SNAP_TRACE("bkpSnapshotAction(): Entering...\n");
    DssSnapshotProvider* provider = DssGlobalData::gdGetSnapshotInstance(handle);
    if (provider == nullptr) return BKP_RC_UNKNOWN_HANDLE;
    int rc = provider->snapshotAction(in, out);
    SNAP_TRACE("bkpSnapshotAction(): Exiting with rc: <%d>\n", rc);
    return code16(rc);
}
