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
// How the volume manager says that a name is in use.
constexpr char kNameTaken[] = "already exists";

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

// A standing snapshot is neither prepared nor started again: the provider keeps its names.
int refuseStanding(const char* operation, const char* name) {
    SNAP_TRACE("DSnapshotProvider::%s(): snapshot <%s> stands; refused, rc=%d\n", operation, name,
               BKP_RC_SNAPSHOT_STANDS);
    return BKP_RC_SNAPSHOT_STANDS;
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

bool validVolumeName(std::string_view name) {
    if (name.empty() || name.size() > kMaxVolumeNameLen || name[0] == '-' || name == "." ||
        name == "..")
        return false;
    for (char c : name) {
        bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '+' || c == '_' || c == '.' || c == '-';
        if (!allowed) return false;
    }
    return true;
}

bool parseVolumePath(const char* path, std::string_view* group) {
    static constexpr std::string_view kDev = "/dev/";
    if (path == nullptr) return false;
    std::string_view p(path);
    if (p.substr(0, kDev.size()) != kDev) return false;
    p.remove_prefix(kDev.size());
    size_t slash = p.find('/');
    if (slash == std::string_view::npos) return false;
    std::string_view vg = p.substr(0, slash);
    if (!validVolumeName(vg) || !validVolumeName(p.substr(slash + 1))) return false;
    if (group != nullptr) *group = vg;
    return true;
}

namespace {

bool knownCommandDir(const char* dir) {
    return dir != nullptr && (std::strcmp(dir, "") == 0 || std::strcmp(dir, "/sbin/") == 0 ||
                              std::strcmp(dir, "/usr/sbin/") == 0);
}

// True when snprintf wrote the whole line; a cut line is never handed to the shell.
bool whole(int written) {
    return written > 0 && static_cast<size_t>(written) < kCommandRoom;
}

}  // namespace

bool formatCreateCommand(char* buf, const char* dir, uint64_t sizeKiB, const char* name,
                         const char* source) {
    buf[0] = '\0';
    if (!knownCommandDir(dir) || name == nullptr || !validVolumeName(name) ||
        !parseVolumePath(source, nullptr))
        return false;
    int n = std::snprintf(buf, kCommandRoom, "%slvcreate -L %luK -n %s -s %s 1>/dev/null", dir,
                          static_cast<unsigned long>(sizeKiB), name, source);
    if (whole(n)) return true;
    buf[0] = '\0';
    return false;
}

bool formatRemoveCommand(char* buf, const char* dir, const char* group, const char* name) {
    buf[0] = '\0';
    if (!knownCommandDir(dir) || group == nullptr || name == nullptr || !validVolumeName(group) ||
        !validVolumeName(name))
        return false;
    int n =
        std::snprintf(buf, kCommandRoom, "%slvremove -f /dev/%s/%s 1>/dev/null", dir, group, name);
    if (whole(n)) return true;
    buf[0] = '\0';
    return false;
}

}  // namespace lvmops

// A provider without a volume list (the start-up provider, and those of snapshot sets) has no
// volume to take a snapshot of: preparing it fails with 5, as when no name can be found, so a
// host that tries gets a failure it already knows how to handle rather than a snapshot of
// nothing.
int DSnapshotProvider::beginPrepareSnapshot() {
    // New names would make this provider forget the snapshot it has to remove.
    if (ownsSnapshot()) return refuseStanding("beginPrepareSnapshot", snapshotName);
    if (volumeList == nullptr || volumeList->source == nullptr) return BKP_RC_CREATE_FAILED;
    const char* source = volumeList->source;
    std::string_view group;
    if (!lvmops::parseVolumePath(source, &group)) {
        SNAP_TRACE("DSnapshotProvider::beginPrepareSnapshot(): refused volume path <%s>\n", source);
        char text[512];
        std::snprintf(text, sizeof text,
                      "The volume path '%.300s' is not /dev/<volume group>/<logical volume> with "
                      "names of letters, digits, '+', '_', '.' and '-'; it was not used.\n",
                      source);
        reportToHost(text, MSG_SNAP_CREATE_FAILED,
                     "DSnapshotProvider::beginPrepareSnapshot():", text, BKP_RC_INVALID_VOLUME_PATH,
                     __FILE_NAME__, __LINE__);
        return BKP_RC_INVALID_VOLUME_PATH;
    }

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
    std::memcpy(volumeGroup, group.data(), group.size());
    volumeGroup[group.size()] = '\0';

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
    // A second lvcreate would need a new name and leave the first snapshot without an owner.
    if (ownsSnapshot()) return refuseStanding("startSnapshot", snapshotName);
    if (volumeList == nullptr || volumeList->source == nullptr || volumeGroup == nullptr ||
        snapshotName == nullptr) {
        SNAP_TRACE("DSnapshotProvider::startSnapshot(): Exiting, rc=%d\n", BKP_RC_CREATE_FAILED);
        return BKP_RC_CREATE_FAILED;
    }
    const char* source = volumeList->source;
    uint64_t sizeKiB = lvmops::snapshotSizeKiB(volumeList->sizeFactor1, volumeList->sizeFactor2);

    int rc = 0;
    for (int pauses = 0;; ++pauses) {
        char cmd[lvmops::kCommandRoom];
        if (!lvmops::formatCreateCommand(cmd, commandDir, sizeKiB, snapshotName, source)) {
            rc = BKP_RC_INVALID_VOLUME_PATH;
            break;
        }
        SNAP_TRACE("DSnapshotProvider::startSnapshot(): snap cmd: <%s>\n", cmd);
        char* errText = nullptr;
        int cmdRc = psCmdExecute(cmd, kWaitForCommand, &errText, kCaptureErrorsOnly);
        // Another process may have taken the name since it was chosen (the names have a
        // resolution of one second): the next second gives the next name.
        bool taken =
            cmdRc != 0 && errText != nullptr && std::strstr(errText, kNameTaken) != nullptr;
        if (cmdRc == 0) {
            reserved1 = 1;
        } else if (taken && pauses < lvmops::kMaxNamePauses) {
            SNAP_TRACE("DSnapshotProvider::startSnapshot(): name <%s> taken, choosing another\n",
                       snapshotName);
        } else {
            reportToHost(errText, MSG_SNAP_CREATE_FAILED,
                         "DSnapshotProvider::startSnapshot():", errText, cmdRc, __FILE_NAME__,
                         __LINE__);
            rc = BKP_RC_CREATE_FAILED;
        }
        // Warnings of a command that succeeded are of no interest to anyone.
        if (errText != nullptr) ARC_FREE(errText);
        if (cmdRc == 0 || rc != 0) break;
        pisnp::sys::sleep(lvmops::kRetryPauseSeconds);
        if (createSnapshotDevName() == BKP_RC_NO_MEMORY) {
            rc = BKP_RC_NO_MEMORY;
            break;
        }
    }
    // Written even after a failure: the host may want to know which device was meant.
    std::snprintf(props->devicePath, sizeof props->devicePath, "/dev/%s/%s", volumeGroup,
                  snapshotName);
    SNAP_TRACE("DSnapshotProvider::startSnapshot(): Exiting, rc=%d\n", rc);
    return rc;
}

// Only a snapshot that this provider's own lvcreate made is removed: after a failed create the
// name may belong to another process's snapshot (two runs in the same second choose the same
// name), and a provider that was never started has nothing to remove. Neither runs a command.
int DSnapshotProvider::deleteSnapshot() {
    SNAP_TRACE("DSnapshotProvider::deleteSnapshot(): Entering...\n");
    char cmd[lvmops::kCommandRoom];
    if (!ownsSnapshot() ||
        !lvmops::formatRemoveCommand(cmd, commandDir, volumeGroup, snapshotName)) {
        SNAP_TRACE("DSnapshotProvider::deleteSnapshot(): Exiting, rc = %d", 0);
        return 0;
    }
    SNAP_TRACE("DSnapshotProvider::deleteSnapshot(): removing snapshot:\n%s", cmd);

    char* errText = nullptr;
    int cmdRc = psCmdExecute(cmd, kWaitForCommand, &errText, kCaptureErrorsOnly);
    int rc = 0;
    if (cmdRc != 0) {
        reportToHost(errText, MSG_SNAP_REMOVE_FAILED, cmd,
                     "DSnapshotProvider::deleteSnapshot():", errText, cmdRc, __FILE_NAME__,
                     __LINE__);
        rc = BKP_RC_NOT_FOUND;
    } else {
        reserved1 = 0;
    }
    if (errText != nullptr) ARC_FREE(errText);
    SNAP_TRACE("DSnapshotProvider::deleteSnapshot(): Exiting, rc = %d", rc);
    return rc;
}
