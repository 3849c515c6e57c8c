#include "pisnp/snapshotProvider.h"

#include <cstring>

#include "mem/checkedAlloc.h"

namespace {

// The text of a command string, or null when it is empty: callers test for "no command" by null.
char* commandText(DString& cmd) {
    if (cmd.isEmpty()) return nullptr;
    return const_cast<char*>(cmd.getAsString());
}

}  // namespace

void* DssSnapshotProvider::operator new(size_t size) noexcept {
    return ARC_MALLOC(size);
}

void DssSnapshotProvider::operator delete(void* p) noexcept {
    ARC_FREE(p);
}

DssSnapshotProvider::DssSnapshotProvider(unsigned int id, bkpSnapVolumeList_t* list, char* preCmd,
                                         char* postCmd, unsigned int p1, unsigned int p2,
                                         unsigned int p3, unsigned int p4, void* context)
    : snapshotID(id),
      volumeList(nullptr),
      snapParam1(p1),
      snapParam2(p2),
      snapParam3(p3),
      snapParam4(p4),
      snapContext(context),
      reserved1(0),
      reserved2(0),
      reserved3(0),
      statusCallbackRunning(0) {
    // The commands first: their strings throw when memory runs out, and nothing may be owned
    // yet that only the destructor, which then does not run, would release.
    if (preCmd != nullptr) preSnapshotCmd = preCmd;
    if (postCmd != nullptr) postSnapshotCmd = postCmd;
    // A copy that fails leaves the list null; the provider then acts as one without volumes.
    if (list != nullptr) CopySnapList(list, &volumeList, 0);
    std::memset(&errorInfo, 0, sizeof errorInfo);
}

DssSnapshotProvider::~DssSnapshotProvider() {
    freeSnapList(volumeList, 1);
}

unsigned int DssSnapshotProvider::getSnapshotID() {
    return snapshotID;
}

void DssSnapshotProvider::setStatusCallbackRunning(int running) {
    statusCallbackRunning.store(running);
}

int DssSnapshotProvider::getStatusCallbackRunning() {
    return statusCallbackRunning.load();
}

char* DssSnapshotProvider::getPreSnapshotCmd() {
    return commandText(preSnapshotCmd);
}

char* DssSnapshotProvider::getPostSnapshotCmd() {
    return commandText(postSnapshotCmd);
}
