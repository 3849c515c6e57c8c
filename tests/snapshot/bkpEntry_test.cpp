// The snapshot entry points in process, where host_road cannot look: the registry's contents,
// stored error records, exact trace lines, refusals before an ID is used, status callbacks on
// another thread, and allocation failures. Providers run their commands against the fakes on
// PATH (their command directory is emptied before any command).
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bkpSnapshot.h"
#include "fakeHost.h"
#include "fakeLvm.h"
#include "pisnp/plugin.h"
#include "pisnp/resultCodes.h"
#include "pisnp/snapshotProvider.h"
#include "pisnp/snapshotRegistry.h"
#include "support/allocTracker.h"
#include "support/fakeClock.h"

namespace {

using pisnp_test::AllocTracker;
using pisnp_test::FakeClock;
using snaptest::FakeHost;
using snaptest::FakeLvm;
using snaptest::kTestSource;
using snaptest::kTestVg;

// What the host gave a provider, read back through member pointers.
struct Params : DssSnapshotProvider {
    static constexpr auto p2 = &Params::snapParam2;
    static constexpr auto context = &Params::snapContext;
};

// A provider that counts its deletions and whose hooks a test sets: a preparation that fails
// with a code of its own and an error record worth keeping, and a status callback.
class ScriptedProvider : public DSnapshotProvider {
  public:
    explicit ScriptedProvider(unsigned int id)
        : DSnapshotProvider(id, nullptr, nullptr, nullptr, 0, 0, 0, 0, nullptr) {
        std::memset(&errorInfo, 0xC3, sizeof errorInfo);
    }
    ~ScriptedProvider() override {
        ++deletions;
        deletedInside = inside.load();
    }
    int beginPrepareSnapshot() override { return 77; }
    int cleanUpOnError(bkpSnapshotStopMode mode) override {
        stopMode = mode;
        return 0;
    }
    int snapshotStatusCallback(bkpSnapshotStatus*) override {
        inside = true;
        if (callback) callback();
        inside = false;
        return 7;
    }
    std::function<void()> callback;
    std::atomic<bool> inside{false};
    static inline std::atomic<int> deletions{0};
    static inline std::atomic<bool> deletedInside{false};
    static inline int stopMode = -1;
};

class SnapshotApi : public ::testing::Test {
  protected:
    void SetUp() override {
        getSnapAttrib();
        int existed = -1;
        ASSERT_EQ(DssGlobalData::gdCreateDssGlobalData(&existed, piSnapProviderInfo_t{}), 0);
        volume.source = const_cast<char*>(kTestSource);
        volume.sizeFactor1 = 10737418240ULL;
        volume.sizeFactor2 = 10;
        ScriptedProvider::deletions = 0;
        host.clear();
    }
    void TearDown() override {
        // Deletes what a test left registered, without running any command.
        DssGlobalData::gdDestroyDssGlobalData();
        std::memset(&gSnapAttrib, 0, sizeof gSnapAttrib);
    }

    // A snapshot made with the given mode whose commands reach the fakes.
    unsigned int snapshot(unsigned int mode, int* rc, const char* commands = nullptr) {
        bkpSnapshotInitIn_t in{};
        in.preSnapshotCmd = in.postSnapshotCmd = const_cast<char*>(commands);
        unsigned int handle = 0;
        *rc = bkpInitializeSnapshot(&volume, &in, mode, &handle, 0);
        if (DssSnapshotProvider* p = registered(0)) snaptest::useFakeCommands(p);
        return handle;
    }
    ScriptedProvider* scripted() {
        auto* p = new ScriptedProvider(DssGlobalData::gdGetNextSnapshotID());
        EXPECT_EQ(DssGlobalData::gdAddSnapshotInstance(p), 0);
        return p;
    }
    // Position lookups cost nothing, unlike lookups of an unknown handle.
    static DssSnapshotProvider* registered(unsigned int position) {
        for (unsigned int i = 0;; ++i) {
            DssSnapshotProvider* p = DssGlobalData::gdGetSnapshotInstanceByListLocation(i);
            if (p == nullptr || i == position) return p;
        }
    }

    FakeHost host;
    FakeLvm lvm;
    bkpSnapVolumeList_t volume{};
    // The registry's second look and termination's pauses take no real time.
    FakeClock clock;
};

TEST_F(SnapshotApi, TheHostsRecordReachesTheProviderAndBadArgumentsUseNoId) {
    bkpSnapshotInitIn_t in{};
    in.snapParam1 = 11;
    in.snapParam2 = 99;
    in.snapContext = &volume;
    unsigned int handle = 12345;
    for (int16_t rc :
         {bkpInitializeSnapshot(&volume, &in, 3, &handle, 0),
          bkpInitializeSnapshot(nullptr, &in, 0, &handle, 0),
          bkpInitializeSnapshot(&volume, nullptr, 0, &handle, 0),
          bkpInitializeSnapshot(&volume, &in, 0, nullptr, 0),
          bkpInitializeSnapshotSet(nullptr, nullptr, 0, &handle),
          bkpInitializeSnapshotSet(nullptr, &in, 0, nullptr), bkpOBFGetInfo(1, nullptr)})
        EXPECT_EQ(rc, BKP_RC_INVALID_PARAMETER);
    EXPECT_EQ(handle, 12345u);
    EXPECT_EQ(host.count("bkpInitializeSnapshot(): ERROR: Invalid parameter\n"), 4);
    EXPECT_EQ(host.count("bkpInitializeSnapshotSet(): ERROR: Invalid parameter\n"), 2);

    ASSERT_EQ(bkpInitializeSnapshot(&volume, &in, BKP_SNAP_MODE_CREATE, &handle, 5), 0);
    EXPECT_EQ(handle, 1u) << "no ID was used up";
    DssSnapshotProvider* p = registered(0);
    EXPECT_EQ(p->*Params::p2, 11u) << "without snapParam2Set the second parameter is the first";
    EXPECT_EQ(p->*Params::context, &volume);
}

TEST_F(SnapshotApi, FailedPreparationForgetsTheHandleButKeepsItsError) {
    unsigned int id = scripted()->getSnapshotID();
    bkpSnapshotInitIn_t in{};
    EXPECT_EQ(bkpInitializeSnapshot(&volume, &in, BKP_SNAP_MODE_PREPARE, &id, 0), 77);
    EXPECT_TRUE(host.traced("bkpInitializeSnapshot(): Error 77 preparing snapshot\n"));
    EXPECT_EQ(ScriptedProvider::stopMode, 0);
    EXPECT_EQ(ScriptedProvider::deletions, 1);
    EXPECT_EQ(registered(0), nullptr);

    bkpSnapshotErrorInfo_t info{}, expected;
    std::memset(&expected, 0xC3, sizeof expected);
    EXPECT_EQ(bkpSnapshotGetErrorInfo(id, &info), 0);
    EXPECT_EQ(std::memcmp(&info, &expected, sizeof info), 0) << "the gone snapshot's error";

    // An unknown set to prepare: 24, and the stored error stays as it was.
    unsigned int unknown = 4242;
    EXPECT_EQ(bkpInitializeSnapshotSet(nullptr, &in, BKP_SNAPSET_MODE_PREPARE, &unknown), 24);
    EXPECT_TRUE(host.traced("Unable to find snapshot set handle '4242'\n"));
    DssGlobalData::gdGetSnapError(&info);
    EXPECT_EQ(std::memcmp(&info, &expected, sizeof info), 0);
}

// Preparing a handle whose snapshot stands again would forget that snapshot: it is refused, and
// the handle and its names stay until termination removes the snapshot.
TEST_F(SnapshotApi, StandingSnapshotIsNotPreparedAgain) {
    int rc;
    unsigned int handle = snapshot(BKP_SNAP_MODE_CREATE_AND_PREPARE, &rc);
    bkpSnapshotStartOut_t out{};
    ASSERT_EQ(bkpStartSnapshot(handle, &out), 0);
    bkpSnapshotInitIn_t in{};
    EXPECT_EQ(bkpInitializeSnapshot(&volume, &in, BKP_SNAP_MODE_PREPARE, &handle, 0),
              BKP_RC_SNAPSHOT_STANDS);
    ASSERT_NE(registered(0), nullptr);
    std::string name = static_cast<DSnapshotProvider*>(registered(0))->getSnapshotName();
    EXPECT_EQ(std::string(out.props.devicePath), std::string("/dev/") + kTestVg + "/" + name);
    EXPECT_EQ(bkpStartSnapshot(handle, &out), BKP_RC_SNAPSHOT_STANDS);
    EXPECT_EQ(bkpTerminateSnapshot(handle), 0);
    EXPECT_EQ(lvm.calls().back(), std::string("lvremove -f /dev/") + kTestVg + "/" + name);
}

// Each entry point on a snapshot created but not prepared, then on an unknown handle. The known
// one runs no command and traces its entry, except the status callback, which may run while the
// snapshot is terminated; the unknown one is answered only after the registry's second look.
TEST_F(SnapshotApi, EveryEntryPointOnAnUnpreparedAndAnUnknownHandle) {
    int rc;
    const unsigned int known = snapshot(BKP_SNAP_MODE_CREATE, &rc), unknown = 999;
    bkpSnapshotErrorInfo_t stored;
    std::memset(&stored, 0x5E, sizeof stored);
    DssGlobalData::gdSetSnapError(&stored);
    bkpSnapshotCmdRec_t cmd{};
    bkpSnapshotStartOut_t out;
    std::memset(&out, 0xAB, sizeof out);
    bkpOBFInfo_t obf{};
    bkpSnapshotStatus status;
    bkpSnapshotErrorInfo_t info;
    struct Entry {
        const char* name;
        std::function<int(unsigned int)> call;
        int knownRc, unknownRc;
    } entries[] = {
        {"bkpPreStartSnapshot", [&](unsigned int h) { return bkpPreStartSnapshot(h, &cmd); }, 0,
         -1},
        {"bkpPostStartSnapshot", [&](unsigned int h) { return bkpPostStartSnapshot(h, &cmd); }, 0,
         -1},
        // No name was chosen, so there is nothing to create: the code of a failed lvcreate.
        {"bkpStartSnapshot", [&](unsigned int h) { return bkpStartSnapshot(h, &out); }, 5, -1},
        {"bkpEndSnapshot", [&](unsigned int h) { return bkpEndSnapshot(h, 0); }, 0, -1},
        {"bkpCancelSnapshot", [&](unsigned int h) { return bkpCancelSnapshot(h, 3); }, 0, -1},
        {"bkpSnapshotAction",
         [&](unsigned int h) { return bkpSnapshotAction(h, nullptr, nullptr); }, 0, -1},
        {"bkpOBFGetInfo", [&](unsigned int h) { return bkpOBFGetInfo(h, &obf); }, 0, 102},
        {"", [&](unsigned int h) { return bkpSnapshotStatusCallback(h, &status); }, 0, -1},
        // Last, so that info holds the stored record of the lost handle.
        {"bkpSnapshotGetErrorInfo",
         [&](unsigned int h) { return bkpSnapshotGetErrorInfo(h, &info); }, 0, 0},
    };
    for (const Entry& e : entries) {
        host.clear();
        EXPECT_EQ(e.call(known), e.knownRc) << e.name;
        EXPECT_EQ(host.count(std::string(e.name) + "(): Entering...\n"), *e.name != '\0') << e.name;
        double before = clock.elapsed();
        EXPECT_EQ(e.call(unknown), e.unknownRc) << e.name;
        EXPECT_EQ(clock.elapsed() - before, 1.0) << e.name;
    }
    host.clear();
    bkpSnapshotAction(known, nullptr, nullptr);
    EXPECT_TRUE(host.traced("bkpSnapshotAction(): Exiting with rc: <0>\n"));
    EXPECT_EQ(out.props.devicePath[0], 0) << "cleared before the provider is asked";
    EXPECT_EQ(std::memcmp(&info, &stored, sizeof info), 0) << "the stored error of a lost handle";
    EXPECT_EQ(bkpSnapshotGetErrorInfo(known, &info), 0);
    EXPECT_EQ(info.data[0], 0) << "a known snapshot's own record, not the stored one";
    for (int16_t rc :
         {bkpStartSnapshot(known, nullptr), bkpPreStartSnapshot(known, nullptr),
          bkpPostStartSnapshot(known, nullptr), bkpSnapshotStatusCallback(known, nullptr),
          bkpSnapshotGetErrorInfo(known, nullptr)})
        EXPECT_EQ(rc, -1) << "a missing record is refused like an unknown handle";

    // Nothing was created, so nothing is removed; the pause for a status callback is one second.
    double before = clock.elapsed();
    EXPECT_EQ(bkpTerminateSnapshot(known), 0);
    EXPECT_EQ(clock.elapsed() - before, 1.0);
    EXPECT_TRUE(lvm.calls().empty());
    EXPECT_EQ(registered(0), nullptr);
}

// The host's callback thread is still inside when termination's twenty seconds are up: the
// provider is deleted by that thread once it leaves, not under it.
TEST_F(SnapshotApi, StatusCallbackOutlastingTerminationKeepsItsProvider) {
    ScriptedProvider* provider = scripted();
    unsigned int id = provider->getSnapshotID();
    std::atomic<bool> entered{false}, leave{false};
    provider->callback = [&] {
        entered = true;
        while (!leave) std::this_thread::yield();
    };
    int callbackRc = 0;
    std::thread hostThread([&] {
        bkpSnapshotStatus status{};
        callbackRc = bkpSnapshotStatusCallback(id, &status);
    });
    while (!entered) std::this_thread::yield();
    EXPECT_EQ(provider->getStatusCallbackRunning(), 1);
    EXPECT_EQ(bkpTerminateSnapshot(id), 0);
    EXPECT_EQ(clock.elapsed(), 20.0) << "waits in pauses of a second, twenty seconds at most";
    EXPECT_EQ(ScriptedProvider::deletions, 0);
    bkpSnapshotStatus late{};
    EXPECT_EQ(bkpSnapshotStatusCallback(id, &late), -1) << "a late callback finds nothing";
    leave = true;
    hostThread.join();
    EXPECT_EQ(callbackRc, 7);
    EXPECT_EQ(ScriptedProvider::deletions, 1);
    EXPECT_FALSE(ScriptedProvider::deletedInside);
}

// The host's callback thread calls again and again while the main thread creates and terminates
// snapshots: every call either finds a provider whole or finds nothing.
TEST_F(SnapshotApi, StatusCallbackRacingTermination) {
    std::atomic<unsigned int> handle{0};
    std::atomic<bool> stop{false};
    std::atomic<int> found{0};
    std::thread hostThread([&] {
        bkpSnapshotStatus status;
        while (!stop) {
            int rc = bkpSnapshotStatusCallback(handle, &status);
            if (rc == 7)
                ++found;
            else
                EXPECT_EQ(rc, -1);
        }
    });
    for (int round = 0; round < 1000; ++round) {
        ScriptedProvider* provider = scripted();
        handle = provider->getSnapshotID();
        EXPECT_EQ(bkpTerminateSnapshot(handle), 0);
    }
    stop = true;
    hostThread.join();
    EXPECT_GT(found, 0);
    EXPECT_EQ(ScriptedProvider::deletions, 1000);
    EXPECT_FALSE(ScriptedProvider::deletedInside);
    EXPECT_EQ(registered(0), nullptr);
}

// Every allocation along a whole snapshot may fail, alone or with every later one: each step
// answers with one of its codes, nothing is left registered or allocated, and a snapshot that
// the host was told about is removed.
TEST_F(SnapshotApi, AllocationFailuresAlongTheRoad) {
    std::string group = lvm.group();
    for (bool andLater : {false, true}) {
        unsigned long steps = pisnp_test::sweepAllocationFailures(
            [&] {
                std::vector<int> rcs(1);  // initialise, pre, start, post, terminate
                unsigned int handle = snapshot(BKP_SNAP_MODE_CREATE_AND_PREPARE, &rcs[0], "true");
                if (registered(0) == nullptr) return rcs;
                bkpSnapshotCmdRec_t cmd{};
                bkpSnapshotStartOut_t out{};
                rcs = {0, bkpPreStartSnapshot(handle, &cmd), bkpStartSnapshot(handle, &out),
                       bkpPostStartSnapshot(handle, &cmd), bkpTerminateSnapshot(handle)};
                return rcs;
            },
            [&](const std::vector<int>& rcs, bool injected, AllocTracker& tracker) {
                if (!injected) {
                    EXPECT_EQ(rcs, (std::vector<int>{0, 0, 0, 0, 0}));
                } else if (rcs.size() == 1) {
                    EXPECT_TRUE(rcs[0] == 1 || rcs[0] == 5) << rcs[0];  // 5: no volume copied
                } else {
                    EXPECT_TRUE(rcs[2] == 0 || rcs[2] == 1) << rcs[2];
                    EXPECT_EQ(rcs[4], 0);
                }
                EXPECT_EQ(registered(0), nullptr);
                EXPECT_EQ(tracker.live(), 0u);
                EXPECT_TRUE(std::filesystem::is_empty(group)) << "a snapshot was left standing";
            },
            andLater);
        EXPECT_GT(steps, 5u) << andLater;
    }
}

}  // namespace
