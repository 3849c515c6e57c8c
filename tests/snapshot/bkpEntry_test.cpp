// The snapshot entry points in process, where host_road cannot look: the registry's contents,
// stored error records, exact trace lines, refusals before an ID is used, the wait for a status
// callback on another thread, and allocation failures. Providers run their commands against the
// fakes on PATH (their command directory is emptied before any command).
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "bkpSnapshot.h"
#include "fakeHost.h"
#include "fakeLvm.h"
#include "pisnp/plugin.h"
#include "pisnp/snapshotProvider.h"
#include "pisnp/snapshotRegistry.h"
#include "support/allocTracker.h"
#include "support/fakeClock.h"

namespace {

using pisnp_test::AllocTracker;
using snaptest::FakeHost;
using snaptest::FakeLvm;
using snaptest::kTestSource;
using snaptest::kTestVg;
using pisnp_test::FakeClock;

// What the host gave a provider, read back through member pointers.
struct Params : DssSnapshotProvider {
    static constexpr auto p1 = &Params::snapParam1;
    static constexpr auto p2 = &Params::snapParam2;
    static constexpr auto p3 = &Params::snapParam3;
    static constexpr auto p4 = &Params::snapParam4;
    static constexpr auto context = &Params::snapContext;
};

// A provider whose preparation fails with a code of its own and an error record worth keeping.
class FailingProvider : public DSnapshotProvider {
  public:
    explicit FailingProvider(unsigned int id, bool* deleted)
        : DSnapshotProvider(id, nullptr, nullptr, nullptr, 0, 0, 0, 0, nullptr), deleted_(deleted) {
        std::memset(&errorInfo, 0xC3, sizeof errorInfo);
    }
    ~FailingProvider() override { *deleted_ = true; }
    int beginPrepareSnapshot() override { return 77; }
    int cleanUpOnError(bkpSnapshotStopMode mode) override {
        stopMode = mode;
        return 0;
    }
    static inline int stopMode = -1;

  private:
    bool* deleted_;
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
        host.clear();
    }
    void TearDown() override {
        // Deletes what a test left registered, without running any command.
        DssGlobalData::gdDestroyDssGlobalData();
        std::memset(&gSnapAttrib, 0, sizeof gSnapAttrib);
    }

    bkpSnapshotInitIn_t record(const char* pre = nullptr, const char* post = nullptr) {
        bkpSnapshotInitIn_t in{};
        in.preSnapshotCmd = const_cast<char*>(pre);
        in.postSnapshotCmd = const_cast<char*>(post);
        return in;
    }
    // A snapshot made with the given mode whose commands reach the fakes.
    unsigned int snapshot(unsigned int mode) {
        bkpSnapshotInitIn_t in = record();
        unsigned int handle = 0;
        EXPECT_EQ(bkpInitializeSnapshot(&volume, &in, mode, &handle, 0), 0);
        if (DssSnapshotProvider* p = registered(0)) snaptest::useFakeCommands(p);
        return handle;
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

TEST_F(SnapshotApi, TheHostsParametersReachTheProvider) {
    bkpSnapshotInitIn_t in = record();
    in.snapParam1 = 11;
    in.snapParam2 = 99;
    in.snapParam3 = 33;
    in.snapParam4 = 44;
    in.snapContext = &volume;
    unsigned int handle = 0;
    ASSERT_EQ(bkpInitializeSnapshot(&volume, &in, BKP_SNAP_MODE_CREATE, &handle, 5), 0);
    auto* p = static_cast<DSnapshotProvider*>(registered(0));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->getSnapshotID(), handle);
    EXPECT_EQ(p->*Params::p1, 11u);
    EXPECT_EQ(p->*Params::p2, 11u) << "without snapParam2Set the second parameter is the first";
    EXPECT_EQ(p->*Params::p3, 33u);
    EXPECT_EQ(p->*Params::p4, 44u);
    EXPECT_EQ(p->*Params::context, &volume);

    in.snapParam2 = 22;
    in.snapParam2Set = 1;
    ASSERT_EQ(bkpInitializeSnapshot(&volume, &in, BKP_SNAP_MODE_CREATE_AND_PREPARE, &handle, 0), 0);
    EXPECT_EQ(in.snapParam2, 22u);
    auto* q = static_cast<DSnapshotProvider*>(registered(1));
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->*Params::p2, 22u);
}

TEST_F(SnapshotApi, InvalidArgumentsAreRefusedBeforeAnIdIsUsed) {
    bkpSnapshotInitIn_t in = record();
    unsigned int untouched = 12345;
    struct {
        const char* what;
        int rc;
    } calls[] = {
        {"mode 3", bkpInitializeSnapshot(&volume, &in, 3, &untouched, 0)},
        {"no volumes", bkpInitializeSnapshot(nullptr, &in, 0, &untouched, 0)},
        {"no record", bkpInitializeSnapshot(&volume, nullptr, 0, &untouched, 0)},
        {"no handle", bkpInitializeSnapshot(&volume, &in, 0, nullptr, 0)},
        {"set without record", bkpInitializeSnapshotSet(nullptr, nullptr, 0, &untouched)},
        {"set without handle", bkpInitializeSnapshotSet(nullptr, &in, 0, nullptr)},
    };
    for (const auto& c : calls) EXPECT_EQ(c.rc, 2) << c.what;
    EXPECT_EQ(untouched, 12345u);
    EXPECT_EQ(host.count("bkpInitializeSnapshot(): ERROR: Invalid parameter\n"), 4);
    EXPECT_EQ(host.count("bkpInitializeSnapshotSet(): ERROR: Invalid parameter\n"), 2);
    EXPECT_EQ(registered(0), nullptr);
    EXPECT_EQ(snapshot(BKP_SNAP_MODE_CREATE), 1u) << "no ID was used up";
}

TEST_F(SnapshotApi, FailedPreparationForgetsTheHandleButKeepsItsError) {
    bool deleted = false;
    unsigned int id = DssGlobalData::gdGetNextSnapshotID();
    ASSERT_EQ(DssGlobalData::gdAddSnapshotInstance(new FailingProvider(id, &deleted)), 0);
    bkpSnapshotInitIn_t in = record();
    EXPECT_EQ(bkpInitializeSnapshot(&volume, &in, BKP_SNAP_MODE_PREPARE, &id, 0), 77);
    EXPECT_TRUE(host.traced("bkpInitializeSnapshot(): Error 77 preparing snapshot\n"));
    EXPECT_EQ(FailingProvider::stopMode, 0);
    EXPECT_TRUE(deleted);
    EXPECT_EQ(registered(0), nullptr);

    // The host can still read the error of the snapshot that is gone.
    bkpSnapshotErrorInfo_t info;
    std::memset(&info, 0, sizeof info);
    EXPECT_EQ(bkpSnapshotGetErrorInfo(id, &info), 0);
    bkpSnapshotErrorInfo_t expected;
    std::memset(&expected, 0xC3, sizeof expected);
    EXPECT_EQ(std::memcmp(&info, &expected, sizeof info), 0);
}

TEST_F(SnapshotApi, SnapshotSetModes) {
    bkpSnapshotInitIn_t in = record();
    unsigned int set = 0;
    ASSERT_EQ(bkpInitializeSnapshotSet(nullptr, &in, BKP_SNAPSET_MODE_CREATE, &set), 0);
    EXPECT_TRUE(host.traced("bkpInitializeSnapshotSet(): enter\n"));
    DssSnapshotProvider* p = registered(0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->getSnapshotID(), set);
    EXPECT_EQ(p->getVolumeList(), nullptr) << "a set has no volumes of its own";

    // An unknown set: 24, and the stored error stays as it was.
    bkpSnapshotErrorInfo_t error;
    std::memset(&error, 0x42, sizeof error);
    DssGlobalData::gdSetSnapError(&error);
    unsigned int unknown = 4242;
    EXPECT_EQ(bkpInitializeSnapshotSet(nullptr, &in, BKP_SNAPSET_MODE_PREPARE, &unknown), 24);
    EXPECT_TRUE(
        host.traced("bkpInitializeSnapshotSet(): Unable to find snapshot set handle '4242'\n"));
    bkpSnapshotErrorInfo_t after;
    DssGlobalData::gdGetSnapError(&after);
    EXPECT_EQ(std::memcmp(&after, &error, sizeof after), 0);
}

// Each entry point on a snapshot created but not prepared, then on an unknown handle. The known
// one runs no command and traces its entry, except the status callback, which may run while the
// snapshot is terminated; the unknown one is answered only after the registry's second look.
TEST_F(SnapshotApi, EveryEntryPointOnAnUnpreparedAndAnUnknownHandle) {
    const unsigned int known = snapshot(BKP_SNAP_MODE_CREATE), unknown = 999;
    bkpSnapshotErrorInfo_t stored;
    std::memset(&stored, 0x5E, sizeof stored);
    DssGlobalData::gdSetSnapError(&stored);
    bkpSnapshotCmdRec_t cmd{};
    cmd.cmdRc = -5;
    bkpSnapshotStartOut_t out;
    std::memset(&out, 0xAB, sizeof out);
    bkpOBFInfo_t obf;
    std::memset(&obf, 0x11, sizeof obf);
    bkpSnapshotStatus status;
    bkpSnapshotErrorInfo_t info;
    struct Entry {
        std::string name;
        std::function<int(unsigned int)> call;
        int knownRc, unknownRc;
        const char* alsoTraced = nullptr;
        bool traced = true;
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
         [&](unsigned int h) { return bkpSnapshotAction(h, nullptr, nullptr); }, 0, -1,
         "bkpSnapshotAction(): Exiting with rc: <0>\n"},
        {"bkpOBFGetInfo", [&](unsigned int h) { return bkpOBFGetInfo(h, &obf); }, 0, 102},
        {"bkpSnapshotStatusCallback",
         [&](unsigned int h) { return bkpSnapshotStatusCallback(h, &status); }, 0, -1, nullptr,
         false},
        // Last, so that info holds the stored record of the lost handle.
        {"bkpSnapshotGetErrorInfo",
         [&](unsigned int h) { return bkpSnapshotGetErrorInfo(h, &info); }, 0, 0},
    };
    for (const Entry& e : entries) {
        host.clear();
        EXPECT_EQ(e.call(known), e.knownRc) << e.name;
        if (e.traced) {
            EXPECT_EQ(host.count(e.name + "(): Entering...\n"), 1) << e.name;
        } else {
            EXPECT_TRUE(host.lines().empty()) << e.name;
        }
        EXPECT_TRUE(e.alsoTraced == nullptr || host.traced(e.alsoTraced)) << e.name;
        double before = clock.elapsed();
        EXPECT_EQ(e.call(unknown), e.unknownRc) << e.name;
        EXPECT_EQ(clock.elapsed() - before, 1.0) << e.name;
        EXPECT_TRUE(host.traced("ERROR2: Snapshot instance 999 is still NULL")) << e.name;
    }
    EXPECT_EQ(cmd.cmdRc, -5) << "no commands: nothing run, nothing written";
    EXPECT_EQ(out.reserved0[0], 0xAB);
    EXPECT_EQ(out.props.propsVersion, 1);
    EXPECT_EQ(out.props.devicePath[0], 0) << "cleared before the provider is asked";
    EXPECT_EQ(out.props.devicePath[sizeof out.props.devicePath - 1], 0);
    EXPECT_EQ(obf.extents.data[0], 0x11) << "no extents to tell of";
    EXPECT_EQ(std::memcmp(&info, &stored, sizeof info), 0) << "the stored error of a lost handle";
    EXPECT_EQ(bkpSnapshotGetErrorInfo(known, &info), 0);
    EXPECT_EQ(info.data[0], 0) << "a known snapshot's own record, not the stored one";
    EXPECT_EQ(registered(0)->getStatusCallbackRunning(), 0);

    // A missing record is refused like an unknown handle.
    EXPECT_EQ(bkpStartSnapshot(known, nullptr), -1);
    EXPECT_EQ(bkpPreStartSnapshot(known, nullptr), -1);
    EXPECT_EQ(bkpPostStartSnapshot(known, nullptr), -1);
    EXPECT_EQ(bkpSnapshotStatusCallback(known, nullptr), -1);
    EXPECT_EQ(bkpSnapshotGetErrorInfo(known, nullptr), -1);

    // Nothing was created, so nothing is removed; the pause for a status callback is one second.
    double before = clock.elapsed();
    EXPECT_EQ(bkpTerminateSnapshot(known), 0);
    EXPECT_EQ(clock.elapsed() - before, 1.0);
    EXPECT_TRUE(host.traced("bkpTerminateSnapshot(): Entering...\n"));
    EXPECT_TRUE(lvm.calls().empty());
    EXPECT_EQ(registered(0), nullptr);
}

// Its callback runs in the host's other thread until termination has paused twice; the provider
// must outlive it.
class SlowCallbackProvider : public DSnapshotProvider {
  public:
    SlowCallbackProvider(unsigned int id, std::atomic<bool>* leftBeforeDelete,
                         const FakeClock* clock)
        : DSnapshotProvider(id, nullptr, nullptr, nullptr, 0, 0, 0, 0, nullptr),
          leftBeforeDelete_(leftBeforeDelete),
          clock_(clock) {}
    ~SlowCallbackProvider() override { leftBeforeDelete_->store(left_.load()); }
    int snapshotStatusCallback(bkpSnapshotStatus*) override {
        entered.set_value();
        while (clock_->pauses() < 2) std::this_thread::yield();
        left_.store(true);
        return 7;
    }

    std::promise<void> entered;

  private:
    std::atomic<bool> left_{false};
    std::atomic<bool>* leftBeforeDelete_;
    const FakeClock* clock_;
};

TEST_F(SnapshotApi, TerminationWaitsForAStatusCallbackInAnotherThread) {
    std::atomic<bool> leftBeforeDelete{false};
    unsigned int id = DssGlobalData::gdGetNextSnapshotID();
    auto* provider = new SlowCallbackProvider(id, &leftBeforeDelete, &clock);
    ASSERT_EQ(DssGlobalData::gdAddSnapshotInstance(provider), 0);

    int callbackRc = 0;
    std::future<void> entered = provider->entered.get_future();
    std::thread hostThread([&] {
        bkpSnapshotStatus status{};
        callbackRc = bkpSnapshotStatusCallback(id, &status);
    });
    entered.wait();
    EXPECT_EQ(provider->getStatusCallbackRunning(), 1);

    EXPECT_EQ(bkpTerminateSnapshot(id), 0);
    hostThread.join();
    EXPECT_TRUE(leftBeforeDelete.load()) << "deleted while the callback was still inside";
    EXPECT_GE(clock.elapsed(), 2.0) << "waits in whole pauses of a second until it has left";
    EXPECT_LT(clock.elapsed(), 20.0);
    EXPECT_EQ(callbackRc, 7);
    EXPECT_EQ(registered(0), nullptr);
}

// Every allocation along initialisation, creation and removal may fail, alone or with every later
// one: each step answers with one of its codes, and nothing is left registered or allocated.
TEST_F(SnapshotApi, AllocationFailuresAlongTheRoad) {
    for (bool andLater : {false, true}) {
        int failedInit = 0;
        unsigned long steps = pisnp_test::sweepAllocationFailures(
            [&] {
                // {initialise, start, delete}, as far as the snapshot got.
                std::vector<int> rcs;
                bkpSnapshotInitIn_t in = record("true", "true");
                unsigned int handle = 0;
                rcs.push_back(bkpInitializeSnapshot(&volume, &in, 0, &handle, 0));
                EXPECT_NE(handle, 0u);
                if (DssSnapshotProvider* p = registered(0)) {
                    snaptest::useFakeCommands(p);
                    bkpSnapshotStartOut_t out{};
                    rcs.push_back(bkpStartSnapshot(handle, &out));
                    if (rcs.back() == 1) {
                        EXPECT_EQ(out.props.devicePath[0], '\0');
                    }
                    // Removed and forgotten by hand, so that each round is one road.
                    rcs.push_back(p->deleteSnapshot());
                    DssGlobalData::gdRemoveSnapshotInstance(handle);
                    delete p;
                }
                return rcs;
            },
            [&](const std::vector<int>& rcs, bool injected, AllocTracker& tracker) {
                if (rcs.size() == 1) {
                    ++failedInit;
                    // 1: no provider, no registration or no memory for the names; 5: the volume
                    // list could not be copied, so there is no volume to prepare.
                    EXPECT_TRUE(rcs[0] == 1 || rcs[0] == 5) << rcs[0];
                } else {
                    EXPECT_EQ(rcs[0], 0);
                    EXPECT_TRUE(rcs[1] == 0 || rcs[1] == 1 || rcs[1] == 5) << rcs[1];
                    EXPECT_TRUE(rcs[2] == 0 || rcs[2] == 1 || rcs[2] == 24) << rcs[2];
                }
                if (!injected) {
                    EXPECT_EQ(rcs, (std::vector<int>{0, 0, 0}));
                }
                EXPECT_EQ(registered(0), nullptr);
                EXPECT_EQ(tracker.live(), 0u);
                // A snapshot whose removal failed would make the next round's name collide.
                std::error_code ignored;
                for (auto& e :
                     std::filesystem::directory_iterator(lvm.root() + "/dev/" + kTestVg, ignored))
                    std::filesystem::remove(e.path(), ignored);
            },
            andLater);
        EXPECT_GT(failedInit, 2) << andLater;
        EXPECT_GT(steps, 3u) << andLater;
    }

    // Termination without any memory: no command can be built, the wait still happens without a
    // timer, and the provider is forgotten without a leak.
    unsigned int handle = snapshot(BKP_SNAP_MODE_CREATE_AND_PREPARE);
    AllocTracker tracker;
    tracker.failAt(1, true);
    double before = clock.elapsed();
    EXPECT_EQ(bkpTerminateSnapshot(handle), 1);
    EXPECT_EQ(clock.elapsed() - before, 1.0);
    EXPECT_EQ(registered(0), nullptr);
    EXPECT_EQ(tracker.live(), 0u);
}

}  // namespace
