// A thousand whole snapshots in one process against the fake volume manager: the library's open
// descriptors and live blocks after the last are those after the first. Termination's pauses are
// made instant by the fake clock; the commands are real processes.
// Usage: run-in-namespace.sh soak_road
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bkpSnapshot.h"
#include "fakeHost.h"
#include "support/allocTracker.h"
#include "support/fakeClock.h"
#include "support/messageSystem.h"

namespace {

size_t openDescriptors() {
    size_t n = 0;
    for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

// Initialise, start, end, terminate: all must be 0.
bool road(const std::string& source) {
    bkpSnapVolumeList_t volume{};
    volume.source = const_cast<char*>(source.c_str());
    volume.sizeFactor1 = 10737418240ULL;
    volume.sizeFactor2 = 10;
    bkpSnapshotInitIn_t in{};
    unsigned int handle = 0;
    bkpSnapshotStartOut_t out{};
    return bkpInitializeSnapshot(&volume, &in, BKP_SNAP_MODE_CREATE_AND_PREPARE, &handle, 0) == 0 &&
           bkpStartSnapshot(handle, &out) == 0 && bkpEndSnapshot(handle, 1) == 0 &&
           bkpTerminateSnapshot(handle) == 0;
}

}  // namespace

int main() {
    const char* vg = std::getenv("FAKELVM_VG");
    if (std::getenv("FAKELVM_INSIDE") == nullptr || vg == nullptr) {
        std::fprintf(stderr, "usage: run-in-namespace.sh soak_road\n");
        return 2;
    }
    snaptest::FakeHost host;
    host.services()->traceOn = 0;
    std::snprintf(host.options().clientDir, sizeof host.options().clientDir, "%s",
                  pisnp_test::catalogDir().c_str());
    pisnp_test::FakeClock clock;
    pisnp_test::AllocTracker tracker;
    piAppInfo_t info{};
    piSnapshotInitIn_t in{};
    piSnapshotInitOut_t initOut{};
    in.hostServices = host.services();
    int failed = piQueryApp(nullptr, &info) != 0 || piSnapshotInit(&in, &initOut) != 0;
    std::string source = std::string("/dev/") + vg + "/lv_home";
    failed += !road(source);
    size_t descriptors = openDescriptors(), blocks = tracker.live();
    for (int i = 1; i < 1000; ++i) failed += !road(source);
    failed += openDescriptors() != descriptors;
    failed += tracker.live() != blocks;
    failed += !std::filesystem::is_empty(std::string("/dev/") + vg);
    failed += piTerminate() != 0;
    std::printf("%d passed, %d failed\n", failed == 0 ? 1 : 0, failed);
    return failed == 0 ? 0 : 1;
}
