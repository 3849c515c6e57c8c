// The snapshot entry points in process: codes, the registry's contents, stored errors, the wait
// for a status callback on another thread, and allocation failures. Providers run their
// commands against the fakes on PATH (their command directory is emptied before any command).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>

#include "bkpSnapshot.h"
#include "fakeHost.h"
#include "fakeLvm.h"
#include "snapshot/DSnapshotProvider.h"
#include "snapshot/DssGlobalData.h"
#include "snapshot/piEntry.h"
#include "support/allocTracker.h"

namespace {

using pisnp_test::AllocTracker;
using snaptest::FakeHost;
using snaptest::FakeLvm;
using snaptest::kTestSource;
using snaptest::kTestVg;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

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
    unsigned int snapshot(unsigned int mode, const char* pre = nullptr,
                          const char* post = nullptr) {
        bkpSnapshotInitIn_t in = record(pre, post);
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
    std::string ranCommands() const {
        std::ifstream in(lvm.root() + "/ran");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::string ranFile() const { return lvm.root() + "/ran"; }

    FakeHost host;
    FakeLvm lvm;
    bkpSnapVolumeList_t volume{};
};

TEST_F(SnapshotApi, CreateThenPrepareOrBothAtOnce) {
    bkpSnapshotInitIn_t in = record();
    in.snapParam1 = 11;
    in.snapParam2 = 99;
    in.snapParam3 = 33;
    in.snapParam4 = 44;
    in.snapContext = &volume;
    unsigned int handle = 0;
    ASSERT_EQ(bkpInitializeSnapshot(&volume, &in, BKP_SNAP_MODE_CREATE, &handle, 5), 0);
    EXPECT_EQ(handle, 1u) << "first ID of a new registry";
    EXPECT_EQ(in.snapParam2, 11u) << "without snapParam2Set the host's record takes snapParam1";
    auto* p = static_cast<DSnapshotProvider*>(registered(0));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->getSnapshotID(), handle);
    EXPECT_EQ(p->*Params::p1, 11u);
    EXPECT_EQ(p->*Params::p2, 11u);
    EXPECT_EQ(p->*Params::p3, 33u);
    EXPECT_EQ(p->*Params::p4, 44u);
    EXPECT_EQ(p->*Params::context, &volume);
    EXPECT_EQ(p->getVolumeGroup(), nullptr) << "created only, not prepared";
    EXPECT_TRUE(host.traced("bkpInitializeSnapshot(): Entering...\n"));

    ASSERT_EQ(bkpInitializeSnapshot(&volume, &in, BKP_SNAP_MODE_PREPARE, &handle, 5), 0);
    EXPECT_EQ(registered(0), p) << "mode 2 prepares the same provider";
    EXPECT_STREQ(p->getVolumeGroup(), kTestVg);
    EXPECT_EQ(registered(1), nullptr);

    in.snapParam2 = 22;
    in.snapParam2Set = 1;
    unsigned int second = 0;
    ASSERT_EQ(bkpInitializeSnapshot(&volume, &in, BKP_SNAP_MODE_CREATE_AND_PREPARE, &second, 0), 0);
    EXPECT_EQ(second, 2u);
    EXPECT_EQ(in.snapParam2, 22u);
    auto* q = static_cast<DSnapshotProvider*>(registered(1));
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->*Params::p2, 22u);
    EXPECT_STREQ(q->getVolumeGroup(), kTestVg) << "mode 0 prepares at once";

    // Refused before anything is created: no ID is used up.
    host.clear();
    unsigned int untouched = 12345;
    EXPECT_EQ(bkpInitializeSnapshot(&volume, &in, 3, &untouched, 0), 2);
    EXPECT_EQ(bkpInitializeSnapshot(nullptr, &in, 0, &untouched, 0), 2);
    EXPECT_EQ(bkpInitializeSnapshot(&volume, nullptr, 0, &untouched, 0), 2);
    EXPECT_EQ(bkpInitializeSnapshot(&volume, &in, 0, nullptr, 0), 2);
    EXPECT_EQ(untouched, 12345u);
    EXPECT_EQ(host.count("bkpInitializeSnapshot(): ERROR: Invalid parameter\n"), 4);
    EXPECT_FALSE(host.traced("Returning snapshot ID"));
    EXPECT_EQ(registered(2), nullptr);
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

    // A volume manager provider that cannot prepare (its volume has no device path) is forgotten
    // too, with its own, empty, error record stored in place of the earlier one.
    bkpSnapVolumeList_t noPath{};
    unsigned int handle = 0;
    EXPECT_EQ(bkpInitializeSnapshot(&noPath, &in, BKP_SNAP_MODE_CREATE_AND_PREPARE, &handle, 0), 5);
    EXPECT_NE(handle, 0u) << "the host sees the ID even though the snapshot failed";
    EXPECT_EQ(registered(0), nullptr);
    DssGlobalData::gdGetSnapError(&info);
    EXPECT_EQ(info.data[0], 0);
    EXPECT_EQ(info.data[sizeof info.data - 1], 0);
}

TEST_F(SnapshotApi, SnapshotSetModes) {
    bkpSnapshotInitIn_t in = record();
    in.snapParam1 = 8;
    unsigned int set = 0;
    ASSERT_EQ(bkpInitializeSnapshotSet(nullptr, &in, BKP_SNAPSET_MODE_CREATE, &set), 0);
    EXPECT_TRUE(host.traced("bkpInitializeSnapshotSet(): enter\n"));
    EXPECT_EQ(in.snapParam2, 8u);
    DssSnapshotProvider* p = registered(0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->getSnapshotID(), set);
    EXPECT_EQ(p->getVolumeList(), nullptr) << "a set has no volumes of its own";

    // A set that cannot be prepared is only traced, and stays.
    EXPECT_EQ(bkpInitializeSnapshotSet(nullptr, &in, BKP_SNAPSET_MODE_PREPARE, &set), 0);
    EXPECT_TRUE(host.traced("bkpInitializeSnapshotSet(): Error '5' preparing snapshot\n"));
    EXPECT_EQ(registered(0), p);

    EXPECT_EQ(bkpInitializeSnapshotSet(nullptr, &in, 3, &set), 2);
    EXPECT_TRUE(host.traced("bkpInitializeSnapshotSet(): ERROR: Invalid snap set mode '3\n"));
    EXPECT_EQ(bkpInitializeSnapshotSet(nullptr, nullptr, 0, &set), 2);
    EXPECT_EQ(bkpInitializeSnapshotSet(nullptr, &in, 0, nullptr), 2);
    EXPECT_EQ(host.count("bkpInitializeSnapshotSet(): ERROR: Invalid parameter\n"), 2);

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

TEST_F(SnapshotApi, TheRoadOfOneSnapshot) {
    std::string pre = "echo pre >> " + ranFile();
    std::string post = "echo post >> " + ranFile();
    unsigned int handle = snapshot(BKP_SNAP_MODE_CREATE_AND_PREPARE, pre.c_str(), post.c_str());
    auto* p = static_cast<DSnapshotProvider*>(registered(0));
    ASSERT_NE(p, nullptr);
    std::string name = p->getSnapshotName();

    bkpSnapshotCmdRec_t cmd{};
    cmd.cmdRc = -5;
    EXPECT_EQ(bkpPreStartSnapshot(handle, &cmd), 0);
    EXPECT_EQ(cmd.cmdRc, 0);

    bkpSnapshotStartOut_t out;
    std::memset(&out, 0xAB, sizeof out);
    ASSERT_EQ(bkpStartSnapshot(handle, &out), 0);
    EXPECT_EQ(out.reserved0[0], 0xAB);
    EXPECT_EQ(out.reserved0[11], 0xAB);
    EXPECT_EQ(out.props.propsVersion, 1);
    EXPECT_EQ(std::string(out.props.devicePath), std::string("/dev/") + kTestVg + "/" + name);
    EXPECT_EQ(out.props.devicePath[sizeof out.props.devicePath - 1], 0) << "cleared first";
    EXPECT_TRUE(lvm.nodeExists(name));

    cmd.cmdRc = -5;
    EXPECT_EQ(bkpPostStartSnapshot(handle, &cmd), 0);
    EXPECT_EQ(cmd.cmdRc, 0);
    EXPECT_EQ(ranCommands(), "pre\npost\n");
    EXPECT_EQ(bkpEndSnapshot(handle, 1), 0);

    auto start = Clock::now();
    EXPECT_EQ(bkpTerminateSnapshot(handle), 0);
    double took = secondsSince(start);
    EXPECT_GE(took, 0.95) << "termination always waits once for a status callback";
    EXPECT_LT(took, 2.5);
    EXPECT_FALSE(lvm.nodeExists(name));
    EXPECT_EQ(registered(0), nullptr);
    for (const char* line :
         {"bkpPreStartSnapshot(): Entering...\n", "bkpStartSnapshot(): Entering...\n",
          "bkpPostStartSnapshot(): Entering...\n", "bkpEndSnapshot(): Entering...\n",
          "bkpTerminateSnapshot(): Entering...\n"})
        EXPECT_TRUE(host.traced(line)) << line;
    EXPECT_EQ(lvm.calls().size(), 2u);
}

TEST_F(SnapshotApi, HostCommandCodesAndPostNeedsPre) {
    unsigned int both = snapshot(BKP_SNAP_MODE_CREATE, "exit 3", "exit 9");
    bkpSnapshotCmdRec_t cmd{};
    EXPECT_EQ(bkpPreStartSnapshot(both, &cmd), 3);
    EXPECT_EQ(cmd.cmdRc, 3);
    cmd.postNeedsPre = 1;
    EXPECT_EQ(bkpPostStartSnapshot(both, &cmd), 4);
    EXPECT_EQ(cmd.cmdRc, 9);

    std::string post = "echo post >> " + ranFile();
    unsigned int postOnly = snapshot(BKP_SNAP_MODE_CREATE, nullptr, post.c_str());
    cmd.cmdRc = -5;
    EXPECT_EQ(bkpPreStartSnapshot(postOnly, &cmd), 0);
    EXPECT_EQ(cmd.cmdRc, -5) << "no pre-snapshot command: nothing run, nothing written";
    cmd.postNeedsPre = 1;
    EXPECT_EQ(bkpPostStartSnapshot(postOnly, &cmd), 0);
    EXPECT_EQ(cmd.cmdRc, -5);
    EXPECT_EQ(ranCommands(), "");
    cmd.postNeedsPre = 0;
    EXPECT_EQ(bkpPostStartSnapshot(postOnly, &cmd), 0);
    EXPECT_EQ(cmd.cmdRc, 0);
    EXPECT_EQ(ranCommands(), "post\n");

    unsigned int none = snapshot(BKP_SNAP_MODE_CREATE);
    cmd.cmdRc = -5;
    EXPECT_EQ(bkpPostStartSnapshot(none, &cmd), 0);
    EXPECT_EQ(cmd.cmdRc, -5);

    // A missing record is refused like an unknown handle.
    EXPECT_EQ(bkpPreStartSnapshot(both, nullptr), -1);
    EXPECT_EQ(bkpPostStartSnapshot(both, nullptr), -1);
}

TEST_F(SnapshotApi, VolumeManagerFailuresReachTheHost) {
    unsigned int handle = snapshot(BKP_SNAP_MODE_CREATE_AND_PREPARE);
    lvm.answer("FAKELVM_LVCREATE_RC=5; FAKELVM_LVCREATE_ERR='  Insufficient free space'");
    bkpSnapshotStartOut_t out{};
    EXPECT_EQ(bkpStartSnapshot(handle, &out), 5);
    ASSERT_EQ(host.messageCalls().size(), 1u);
    EXPECT_EQ(host.messageCalls()[0].number, 5250);
    EXPECT_EQ(host.messageCalls()[0].inserts[1], "  Insufficient free space\n");
    EXPECT_EQ(bkpStartSnapshot(handle, nullptr), -1);

    // A failed removal is reported, and the handle is forgotten all the same.
    host.clear();
    lvm.answer("FAKELVM_LVREMOVE_RC=5; FAKELVM_LVREMOVE_ERR='  Failed to find logical volume'");
    EXPECT_EQ(bkpTerminateSnapshot(handle), 24);
    ASSERT_EQ(host.messageCalls().size(), 1u);
    EXPECT_EQ(host.messageCalls()[0].number, 8103);
    EXPECT_EQ(registered(0), nullptr);

    // A snapshot never prepared has nothing to remove.
    lvm.clearCalls();
    unsigned int created = snapshot(BKP_SNAP_MODE_CREATE);
    EXPECT_EQ(bkpTerminateSnapshot(created), 0);
    EXPECT_TRUE(lvm.calls().empty());
    EXPECT_EQ(registered(0), nullptr);
}

TEST_F(SnapshotApi, CallsThatChangeNothingForTheVolumeManager) {
    unsigned int handle = snapshot(BKP_SNAP_MODE_CREATE);
    EXPECT_EQ(bkpEndSnapshot(handle, 0), 0);
    EXPECT_EQ(bkpCancelSnapshot(handle, 3), 0);
    EXPECT_TRUE(host.traced("bkpCancelSnapshot(): Entering...\n"));
    EXPECT_EQ(bkpSnapshotAction(handle, nullptr, nullptr), 0);
    EXPECT_TRUE(host.traced("bkpSnapshotAction(): Entering...\n"));
    EXPECT_TRUE(host.traced("bkpSnapshotAction(): Exiting with rc: <0>\n"));

    bkpOBFInfo_t obf;
    std::memset(&obf, 0x11, sizeof obf);
    EXPECT_EQ(bkpOBFGetInfo(handle, &obf), 0);
    EXPECT_EQ(obf.obfVersion, 1);
    EXPECT_EQ(obf.extents.data[0], 0x11);
    EXPECT_TRUE(host.traced("bkpOBFGetInfo(): Entering...\n"));

    host.clear();
    bkpSnapshotStatus status;
    std::memset(&status, 0x22, sizeof status);
    EXPECT_EQ(bkpSnapshotStatusCallback(handle, &status), 0);
    EXPECT_EQ(status.data[0], 0);
    EXPECT_EQ(status.data[47], 0);
    EXPECT_EQ(registered(0)->getStatusCallbackRunning(), 0);
    EXPECT_TRUE(host.lines().empty()) << "the status callback is not traced";
    EXPECT_EQ(bkpSnapshotStatusCallback(handle, nullptr), -1);

    bkpSnapshotErrorInfo_t info;
    std::memset(&info, 0x33, sizeof info);
    EXPECT_EQ(bkpSnapshotGetErrorInfo(handle, &info), 0);
    EXPECT_EQ(info.data[0], 0);
    EXPECT_EQ(info.data[8775], 0);
    EXPECT_EQ(bkpSnapshotGetErrorInfo(handle, nullptr), -1);
}

TEST_F(SnapshotApi, UnknownHandlesAfterTheRegistrysSecondLook) {
    const unsigned int unknown = 999;
    bkpSnapshotErrorInfo_t stored;
    std::memset(&stored, 0x5E, sizeof stored);
    DssGlobalData::gdSetSnapError(&stored);

    bkpSnapshotCmdRec_t cmd{};
    bkpSnapshotStartOut_t out{};
    bkpOBFInfo_t obf{};
    bkpSnapshotStatus status{};
    bkpSnapshotErrorInfo_t info{};
    struct Call {
        const char* name;
        std::function<int()> call;
        int expected;
    } calls[] = {
        {"terminate", [&] { return bkpTerminateSnapshot(unknown); }, -1},
        {"start", [&] { return bkpStartSnapshot(unknown, &out); }, -1},
        {"pre", [&] { return bkpPreStartSnapshot(unknown, &cmd); }, -1},
        {"post", [&] { return bkpPostStartSnapshot(unknown, &cmd); }, -1},
        {"end", [&] { return bkpEndSnapshot(unknown, 0); }, -1},
        {"obf", [&] { return bkpOBFGetInfo(unknown, &obf); }, 102},
        {"status", [&] { return bkpSnapshotStatusCallback(unknown, &status); }, -1},
        {"cancel", [&] { return bkpCancelSnapshot(unknown, 0); }, -1},
        {"action", [&] { return bkpSnapshotAction(unknown, nullptr, nullptr); }, -1},
        {"error info", [&] { return bkpSnapshotGetErrorInfo(unknown, &info); }, 0},
    };
    for (const Call& c : calls) {
        auto start = Clock::now();
        EXPECT_EQ(c.call(), c.expected) << c.name;
        EXPECT_GE(secondsSince(start), 0.95) << c.name;
    }
    EXPECT_EQ(std::memcmp(&info, &stored, sizeof info), 0) << "the stored error of a lost handle";
    EXPECT_EQ(host.count("ERROR2: Snapshot instance 999 is still NULL"), 10);
}

// Its callback runs in the host's other thread for a while; the provider must outlive it.
class SlowCallbackProvider : public DSnapshotProvider {
  public:
    SlowCallbackProvider(unsigned int id, std::atomic<bool>* leftBeforeDelete)
        : DSnapshotProvider(id, nullptr, nullptr, nullptr, 0, 0, 0, 0, nullptr),
          leftBeforeDelete_(leftBeforeDelete) {}
    ~SlowCallbackProvider() override { leftBeforeDelete_->store(left_.load()); }
    int snapshotStatusCallback(bkpSnapshotStatus* status) override {
        clearedFirst = status->data[0] == 0 && status->data[47] == 0;
        {
            std::lock_guard<std::mutex> lock(mutex);
            entered = true;
        }
        cond.notify_all();
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        left_.store(true);
        return 7;
    }

    std::mutex mutex;
    std::condition_variable cond;
    bool entered = false;
    bool clearedFirst = false;

  private:
    std::atomic<bool> left_{false};
    std::atomic<bool>* leftBeforeDelete_;
};

TEST_F(SnapshotApi, TerminationWaitsForAStatusCallbackInAnotherThread) {
    std::atomic<bool> leftBeforeDelete{false};
    unsigned int id = DssGlobalData::gdGetNextSnapshotID();
    auto* provider = new SlowCallbackProvider(id, &leftBeforeDelete);
    ASSERT_EQ(DssGlobalData::gdAddSnapshotInstance(provider), 0);

    int callbackRc = 0;
    bool clearedFirst = false;
    std::thread hostThread([&] {
        bkpSnapshotStatus status;
        std::memset(&status, 0xEE, sizeof status);
        callbackRc = bkpSnapshotStatusCallback(id, &status);
    });
    {
        std::unique_lock<std::mutex> lock(provider->mutex);
        provider->cond.wait(lock, [&] { return provider->entered; });
        clearedFirst = provider->clearedFirst;
    }
    EXPECT_EQ(provider->getStatusCallbackRunning(), 1);

    auto start = Clock::now();
    EXPECT_EQ(bkpTerminateSnapshot(id), 0);
    double took = secondsSince(start);
    hostThread.join();
    EXPECT_TRUE(leftBeforeDelete.load()) << "deleted while the callback was still inside";
    EXPECT_GE(took, 1.9) << "waits in whole pauses of a second until the callback has left";
    EXPECT_LT(took, 10.0);
    EXPECT_EQ(callbackRc, 7);
    EXPECT_TRUE(clearedFirst) << "the status record is cleared before the provider sees it";
    EXPECT_EQ(registered(0), nullptr);
}

TEST_F(SnapshotApi, AllocationFailuresAlongTheRoad) {
    int failedCreate = 0;
    pisnp_test::sweepAllocationFailures(
        [&] {
            std::pair<int, int> rcs{-100, -100};
            bkpSnapshotInitIn_t in = record("true", "true");
            unsigned int handle = 0;
            rcs.first = bkpInitializeSnapshot(&volume, &in, 0, &handle, 0);
            EXPECT_NE(handle, 0u);
            if (DssSnapshotProvider* p = registered(0)) {
                EXPECT_EQ(rcs.first, 0);
                snaptest::useFakeCommands(p);
                bkpSnapshotStartOut_t out{};
                rcs.second = bkpStartSnapshot(handle, &out);
                // Forgotten by hand: termination's pause would make the sweep slow.
                DssGlobalData::gdRemoveSnapshotInstance(handle);
                delete p;
            }
            return rcs;
        },
        [&](std::pair<int, int> rcs, bool injected, AllocTracker& tracker) {
            if (rcs.first != 0) {
                ++failedCreate;
                // 1: no provider, no registration or no memory for the names; 5: the volume
                // list could not be copied, so there is no volume to prepare.
                EXPECT_TRUE(rcs.first == 1 || rcs.first == 5) << rcs.first;
            } else {
                EXPECT_TRUE(rcs.second == 0 || rcs.second == 1 || rcs.second == 5) << rcs.second;
            }
            if (!injected) {
                EXPECT_EQ(rcs, std::make_pair(0, 0));
            }
            EXPECT_EQ(registered(0), nullptr);
            EXPECT_EQ(tracker.live(), 0u);
            std::error_code ignored;
            for (auto& e :
                 std::filesystem::directory_iterator(lvm.root() + "/dev/" + kTestVg, ignored))
                std::filesystem::remove(e.path(), ignored);
        });
    EXPECT_GT(failedCreate, 2);

    // Termination without any memory: no command can be built, the wait still happens without a
    // timer, and the provider is forgotten without a leak.
    unsigned int handle = snapshot(BKP_SNAP_MODE_CREATE_AND_PREPARE);
    AllocTracker tracker;
    tracker.failAt(1, true);
    auto start = Clock::now();
    EXPECT_EQ(bkpTerminateSnapshot(handle), 1);
    EXPECT_GE(secondsSince(start), 0.95);
    EXPECT_LT(secondsSince(start), 2.5);
    EXPECT_EQ(registered(0), nullptr);
    EXPECT_EQ(tracker.live(), 0u);
}

}  // namespace
