#include "pisnp/snapshotProvider.h"

#include <cstring>
#include <new>

#include "mem/checkedAlloc.h"
#include "pisnp/files.h"
#include "snapshot/hostServices.h"

DSnapshotProvider::DSnapshotProvider(unsigned int id, bkpSnapVolumeList_t* list, char* preCmd,
                                     char* postCmd, unsigned int p1, unsigned int p2,
                                     unsigned int p3, unsigned int p4, void* context)
    : DssSnapshotProvider(id, list, preCmd, postCmd, p1, p2, p3, p4, context),
      volumeGroup(nullptr),
      snapshotName(nullptr),
      commandDir{} {
    if (psFileExists("/sbin/lvcreate")) {
        std::strcpy(commandDir, "/sbin/");
    } else if (psFileExists("/usr/sbin/lvcreate")) {
        std::strcpy(commandDir, "/usr/sbin/");
    } else {
        // An empty prefix leaves the commands to the shell's search path.
        SNAP_TRACE(
            "DSnapshotProvider::DSnapshotProvider(): could not find /sbin or /usr/sbin "
            "directory\n");
    }
    SNAP_TRACE("DSnapshotProvider::DSnapshotProvider(): using root bin directory: <%s>\n",
               commandDir);
}

DSnapshotProvider::~DSnapshotProvider() {
    if (volumeGroup != nullptr) ARC_FREE(volumeGroup);
    if (snapshotName != nullptr) ARC_FREE(snapshotName);
}

int DSnapshotProvider::initSnapshotProvider(unsigned short*, unsigned short*) {
    return 0;
}

int DSnapshotProvider::termSnapshotProvider() {
    return 0;
}

int DSnapshotProvider::initializeSnapshot(unsigned int, arcBool_t) {
    return 0;
}

int DSnapshotProvider::initializeSnapshotSet() {
    return 0;
}

int DSnapshotProvider::endPrepareSnapshot() {
    return 0;
}

int DSnapshotProvider::endSnapshot(arcBool_t) {
    return 0;
}

int DSnapshotProvider::getOBFInfo(nfExtentListHdr*, char*, char*) {
    return 0;
}

int DSnapshotProvider::snapshotStatusCallback(bkpSnapshotStatus*) {
    return 0;
}

int DSnapshotProvider::cleanUpOnError(bkpSnapshotStopMode) {
    return 0;
}

int DSnapshotProvider::getErrorInfo(bkpSnapshotErrorInfo_t* info) {
    if (info != nullptr) std::memcpy(info, &errorInfo, sizeof errorInfo);
    return 0;
}

int DSnapshotProvider::cancelSnapshot(unsigned int) {
    return 0;
}

int DSnapshotProvider::snapshotAction(piSnapshotActionIn_t*, piSnapshotActionOut_t*) {
    return 0;
}

void DSnapshotProvider::queryLibVersion(unsigned short*, unsigned short*, unsigned short*) {}

int DSnapshotProvider::isSnapshotProviderInstalled() {
    return 0;
}

int DSnapshotProvider::installSnapshotProvider() {
    return 0;
}

int DSnapshotProvider::updateSnapshotProvider() {
    return 0;
}

int DSnapshotProvider::removeSnapshotProvider() {
    return 0;
}

DssSnapshotProvider* createSnapProvider(unsigned int id, bkpSnapVolumeList_t* list, char* preCmd,
                                        char* postCmd, unsigned int p1, unsigned int p2,
                                        unsigned int p3, unsigned int p4, void* context) {
    DssSnapshotProvider* provider = nullptr;
    try {
        provider = new DSnapshotProvider(id, list, preCmd, postCmd, p1, p2, p3, p4, context);
    } catch (const std::bad_alloc&) {
        // A command string without memory; the half-built object is already released.
        provider = nullptr;
    }
    if (provider == nullptr) SNAP_TRACE("createSnapProvider(): No more memory\n");
    return provider;
}
