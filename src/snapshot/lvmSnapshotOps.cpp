// The volume manager work of DSnapshotProvider: choosing a snapshot name, lvcreate, lvremove.
//
// Only the first node of the volume list matters: its device path gives the volume group (and
// the origin of the snapshot), its two size factors the snapshot's size. Both commands run
// through the shell with their error stream captured; a failure hands that text to the host's
// message operation, so the user sees the volume manager's own explanation.
#include "pisnp/resultCodes.h"
#include "snapshot/lvmSnapshotOps.h"

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "base/sysCalls.h"
#include "mem/checkedAlloc.h"
#include "pisnp/processes.h"
#include "pisnp/snapshotProvider.h"
#include "snapshot/hostServices.h"

namespace {

// The volume manager tells what went wrong on its error stream; the output stream is discarded
// by the command line itself.
constexpr int kWaitForCommand = 1;
constexpr int kCaptureErrorsOnly = 0;

// Frees a block of the checked allocator on every way out of a scope.
struct ArcBlock {
    char* p = nullptr;
    ArcBlock() = default;
    explicit ArcBlock(size_t size) : p(static_cast<char*>(ARC_MALLOC(size))) {}
    ~ArcBlock() {
        if (p != nullptr) ARC_FREE(p);
    }
    ArcBlock(const ArcBlock&) = delete;
    ArcBlock& operator=(const ArcBlock&) = delete;
};

// Passes a failed command's error text to the host under its catalog message. An empty error
// stream has nothing to tell the user; the failure code says it all then.
template <typename... Inserts>
void reportToHost(const char* errText, int msgNum, Inserts... inserts) {
    if (errText == nullptr || errText[0] == '\0') return;
    ArcBlock msgBuf(PI_HOST_MSGBUF_SIZE);
    if (msgBuf.p == nullptr) return;
    msgBuf.p[0] = '\0';
    SNAP_HOST_MESSAGE(msgBuf.p, msgNum, inserts...);
}

}  // namespace

namespace lvmops {

uint64_t snapshotSizeKiB(uint64_t sizeFactor1, uint64_t sizeFactor2) {
    // Bytes to KiB (4096 * 25 = 1024 * 100), one hundredth of the product.
    return sizeFactor1 * sizeFactor2 / 4096 / 25;
}

void formatSnapshotName(char* buf, size_t room, const tm& when) {
    std::snprintf(buf, room, "bkpsnapshot_date_%d_%d_%d_time_%d.%d.%d", when.tm_mon + 1,
                  when.tm_mday, when.tm_year + 1900, when.tm_hour, when.tm_min, when.tm_sec);
}

}  // namespace lvmops

// A provider without a volume list (the start-up provider, and those of snapshot sets) has no
// volume to take a snapshot of: preparing it fails with 5, as when no name can be found, so a
// host that tries gets a failure it already knows how to handle rather than a snapshot of
// nothing.
int DSnapshotProvider::beginPrepareSnapshot() {
    if (volumeList == nullptr || volumeList->source == nullptr) return BKP_RC_CREATE_FAILED;
    const char* source = volumeList->source;

    // A second preparation chooses afresh; the earlier names are not needed any more.
    if (volumeGroup != nullptr) {
        ARC_FREE(volumeGroup);
        volumeGroup = nullptr;
    }
    if (snapshotName != nullptr) {
        ARC_FREE(snapshotName);
        snapshotName = nullptr;
    }

    // Whatever the group's name is, it is part of the device path, so the path's length holds it.
    volumeGroup = static_cast<char*>(ARC_MALLOC(std::strlen(source) + 1));
    if (volumeGroup == nullptr) return BKP_RC_NO_MEMORY;
    volumeGroup[0] = '\0';
    std::sscanf(source, "/dev/%[^/]s/", volumeGroup);

    snapshotName =
        static_cast<char*>(ARC_MALLOC(lvmops::snapshotNameRoom(std::strlen(volumeGroup))));
    if (snapshotName == nullptr) return BKP_RC_NO_MEMORY;
    snapshotName[0] = '\0';

    // Names change once a second, so each pause yields a new one. The name generated after the
    // last pause is not checked any more: it would be the first unchecked guess.
    for (int pauses = 0;; ++pauses) {
        int rc = createSnapshotDevName();
        if (rc == BKP_RC_NO_MEMORY) return BKP_RC_NO_MEMORY;
        if (pauses == lvmops::kMaxNamePauses) return BKP_RC_CREATE_FAILED;
        if (rc != 0) return 0;
        pisnp::sys::sleep(lvmops::kRetryPauseSeconds);
    }
}

int DSnapshotProvider::createSnapshotDevName() {
    // Only reachable without a preparation, which takes these buffers first.
    if (volumeGroup == nullptr || snapshotName == nullptr) return BKP_RC_NO_MEMORY;

    timeval now{};
    pisnp::sys::gettimeofday(&now);
    time_t seconds = now.tv_sec;
    tm local{};
    psLocalTime(&seconds, local);
    lvmops::formatSnapshotName(snapshotName, lvmops::snapshotNameRoom(std::strlen(volumeGroup)),
                               local);

    size_t room = std::strlen(volumeGroup) + std::strlen(snapshotName) + 7;
    ArcBlock path(room);
    if (path.p == nullptr) return BKP_RC_NO_MEMORY;
    std::snprintf(path.p, room, "/dev/%s/%s", volumeGroup, snapshotName);
    struct stat st;
    return pisnp::sys::stat(path.p, &st);
}

// Like preparing, starting needs the volume and the names chosen for it; without them nothing is
// run and the result is the code of a failed create (props untouched).
int DSnapshotProvider::startSnapshot(bkpSnapshotProperties_t* props) {
    SNAP_TRACE("DSnapshotProvider::startSnapshot(): Enter \n");
    if (volumeList == nullptr || volumeList->source == nullptr || volumeGroup == nullptr ||
        snapshotName == nullptr) {
        SNAP_TRACE("DSnapshotProvider::startSnapshot(): Exiting, rc=%d\n", BKP_RC_CREATE_FAILED);
        return BKP_RC_CREATE_FAILED;
    }
    const char* source = volumeList->source;

    size_t room = std::strlen(volumeGroup) + std::strlen(snapshotName) + std::strlen(source) + 120;
    ArcBlock cmd(room);
    if (cmd.p == nullptr) return BKP_RC_NO_MEMORY;
    unsigned long sizeKiB =
        lvmops::snapshotSizeKiB(volumeList->sizeFactor1, volumeList->sizeFactor2);
    std::snprintf(cmd.p, room, "%slvcreate -L %luK -n %s -s %s 1>/dev/null", commandDir, sizeKiB,
                  snapshotName, source);
    SNAP_TRACE("DSnapshotProvider::startSnapshot(): snap cmd: <%s>\n", cmd.p);

    char* errText = nullptr;
    int cmdRc = psCmdExecute(cmd.p, kWaitForCommand, &errText, kCaptureErrorsOnly);
    int rc = 0;
    if (cmdRc != 0) {
        reportToHost(errText, MSG_SNAP_CREATE_FAILED,
                     "DSnapshotProvider::startSnapshot():", errText, cmdRc, __FILE_NAME__,
                     __LINE__);
        rc = BKP_RC_CREATE_FAILED;
    }
    // Warnings of a command that succeeded are of no interest to anyone.
    if (errText != nullptr) ARC_FREE(errText);
    // Written even after a failure: the host may want to know which device was meant.
    std::snprintf(props->devicePath, sizeof props->devicePath, "/dev/%s/%s", volumeGroup,
                  snapshotName);
    SNAP_TRACE("DSnapshotProvider::startSnapshot(): Exiting, rc=%d\n", rc);
    return rc;
}

// A provider that was never prepared has created no snapshot volume, so there is nothing to
// remove: no command runs and the result is success, letting the host forget such a handle
// (a snapshot set, or a snapshot initialised without preparation) cleanly.
int DSnapshotProvider::deleteSnapshot() {
    SNAP_TRACE("DSnapshotProvider::deleteSnapshot(): Entering...\n");
    if (volumeGroup == nullptr || snapshotName == nullptr) {
        SNAP_TRACE("DSnapshotProvider::deleteSnapshot(): Exiting, rc = %d", 0);
        return 0;
    }

    size_t room = std::strlen(volumeGroup) + 4096;
    ArcBlock cmd(room);
    if (cmd.p == nullptr) return BKP_RC_NO_MEMORY;
    std::snprintf(cmd.p, room, "%slvremove -f /dev/%s/%s 1>/dev/null", commandDir, volumeGroup,
                  snapshotName);
    SNAP_TRACE("DSnapshotProvider::deleteSnapshot(): removing snapshot:\n%s", cmd.p);

    char* errText = nullptr;
    int cmdRc = psCmdExecute(cmd.p, kWaitForCommand, &errText, kCaptureErrorsOnly);
    int rc = 0;
    if (cmdRc != 0) {
        reportToHost(errText, MSG_SNAP_REMOVE_FAILED, cmd.p,
                     "DSnapshotProvider::deleteSnapshot():", errText, cmdRc, __FILE_NAME__,
                     __LINE__);
        rc = BKP_RC_NOT_FOUND;
    }
    if (errText != nullptr) ARC_FREE(errText);
    SNAP_TRACE("DSnapshotProvider::deleteSnapshot(): Exiting, rc = %d", rc);
    return rc;
}
