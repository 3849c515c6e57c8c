// The volume manager work of DSnapshotProvider: choosing a snapshot name, lvcreate, lvremove.
//
// STAND-IN: until this work is written, every operation here fails with the code it uses for a
// failed volume manager step, so that a host sees a clean failure rather than a fake snapshot.
#include "snapshot/DSnapshotProvider.h"

namespace {
constexpr int kNoFreeSnapshotName = 5;
constexpr int kCreateFailed = 5;
constexpr int kRemoveFailed = 24;
constexpr int kNameNotBuilt = 1;
}  // namespace

int DSnapshotProvider::beginPrepareSnapshot() {
    return kNoFreeSnapshotName;
}

int DSnapshotProvider::startSnapshot(bkpSnapshotProperties_t*) {
    return kCreateFailed;
}

int DSnapshotProvider::deleteSnapshot() {
    return kRemoveFailed;
}

int DSnapshotProvider::createSnapshotDevName() {
    return kNameNotBuilt;
}
