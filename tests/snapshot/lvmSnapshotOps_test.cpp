// The volume manager work of one provider, in process: size arithmetic, the snapshot name, which
// device paths and names may reach a command line, names taken by another process, and which
// snapshot a provider may remove. Whole snapshots through the host interface are host_road's.
#include "snapshot/lvmSnapshotOps.h"

#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "fakeHost.h"
#include "fakeLvm.h"
#include "pisnp/resultCodes.h"
#include "pisnp/snapshotProvider.h"
#include "support/allocTracker.h"
#include "support/fakeClock.h"

namespace {

using pisnp_test::AllocTracker;
using pisnp_test::FakeClock;
using snaptest::FakeHost;
using snaptest::FakeLvm;
using snaptest::kTestSource;
using snaptest::kTestVg;

bkpSnapVolumeList_t volume(const char* source) {
    bkpSnapVolumeList_t n{};
    n.source = const_cast<char*>(source);
    n.sizeFactor1 = 10737418240ULL;
    n.sizeFactor2 = 10;
    return n;
}

// A provider for one volume whose commands reach the fakes on PATH.
DSnapshotProvider* providerFor(bkpSnapVolumeList_t* list) {
    auto* p = static_cast<DSnapshotProvider*>(
        createSnapProvider(7, list, nullptr, nullptr, 0, 0, 0, 0, nullptr));
    if (p != nullptr) snaptest::useFakeCommands(p);
    return p;
}

TEST(LvmSnapshotOps, SizeNameAndLocalTime) {
    EXPECT_EQ(lvmops::snapshotSizeKiB(10737418240ULL, 10), 1048576u);
    EXPECT_EQ(lvmops::snapshotSizeKiB(1, 204799), 1u) << "rounds down";
    EXPECT_EQ(lvmops::snapshotSizeKiB(1ULL << 32, 1ULL << 32), 0u) << "the product wraps";

    tm when{};
    when.tm_year = 2026 - 1900;
    when.tm_mon = 6;
    when.tm_mday = 4;
    when.tm_hour = 9;
    when.tm_min = 5;
    when.tm_sec = 30;
    char buf[64];
    lvmops::formatSnapshotName(buf, sizeof buf, when);
    EXPECT_STREQ(buf, "bkpsnapshot_date_7_4_2026_time_9.5.30");
    // The longest name is 41 characters; with an empty group it is cut rather than overrun.
    when.tm_mon = 11;
    when.tm_mday = 31;
    when.tm_hour = 23;
    when.tm_min = when.tm_sec = 59;
    std::memset(buf, 'X', sizeof buf);
    lvmops::formatSnapshotName(buf, lvmops::snapshotNameRoom(0), when);
    EXPECT_EQ(std::string(buf), std::string("bkpsnapshot_date_12_31_2026_time_23.59.59", 40));
    EXPECT_EQ(buf[41], 'X');

    // A year beyond what tm can hold makes localtime_r fail: two days after the epoch instead.
    time_t tooLate = LLONG_MAX, fallback = 172800;
    tm expected{}, got{};
    localtime_r(&fallback, &expected);
    EXPECT_EQ(psLocalTime(&tooLate, got), &got);
    EXPECT_EQ(got.tm_yday, expected.tm_yday);
    EXPECT_EQ(got.tm_hour, expected.tm_hour);
}

// Only the volume manager's name characters may reach a command line: every other byte is
// refused, in the group and in the volume, wherever it stands in the name.
TEST(LvmSnapshotOps, VolumePathsAndNamesAreRefusedForAnyOtherCharacter) {
    for (int c = 1; c < 256; ++c) {
        bool nameChar = (c < 128 && std::isalnum(c)) || std::strchr("+_.-", c) != nullptr;
        for (const std::string& name :
             {std::string(1, char(c)) + "v", "v" + std::string(1, char(c))}) {
            bool valid = nameChar && name != "-v" && name.find('/') == std::string::npos;
            EXPECT_EQ(lvmops::validVolumeName(name), valid) << c;
            EXPECT_EQ(lvmops::parseVolumePath(("/dev/vg/" + name).c_str(), nullptr), valid) << c;
            EXPECT_EQ(lvmops::parseVolumePath(("/dev/" + name + "/lv").c_str(), nullptr), valid);
        }
    }
    for (const char* bad : {"", ".", "..", "-lv"}) EXPECT_FALSE(lvmops::validVolumeName(bad));
    EXPECT_TRUE(lvmops::validVolumeName(std::string(127, 'n')));
    EXPECT_FALSE(lvmops::validVolumeName(std::string(128, 'n')));
    for (const char* bad : {"/dev/vg", "/dev/vg/lv/x", "/srv/vg/lv", "/dev//lv", "/dev/vg/"})
        EXPECT_FALSE(lvmops::parseVolumePath(bad, nullptr)) << bad;
    std::string_view group;
    EXPECT_TRUE(lvmops::parseVolumePath("/dev/vg_01+x.y-z/..lv", &group));
    EXPECT_EQ(group, "vg_01+x.y-z");

    // The exact lines are host_hostile's to check, what may not reach them fuzz_volumePath's;
    // here only that the longest names fit and that a directory of another kind is refused.
    char line[lvmops::kCommandRoom];
    std::string longest(127, 'n'), path = "/dev/" + longest + "/" + longest;
    EXPECT_TRUE(
        lvmops::formatCreateCommand(line, "/usr/sbin/", UINT64_MAX, longest.c_str(), path.c_str()));
    EXPECT_FALSE(lvmops::formatRemoveCommand(line, "/tmp/", "vg", "s"));
    EXPECT_STREQ(line, "") << "nothing is left that could be run";
}

// Answers "taken" a given number of times, then "free".
class CrowdedProvider : public DSnapshotProvider {
  public:
    CrowdedProvider(bkpSnapVolumeList_t* list, int taken)
        : DSnapshotProvider(3, list, nullptr, nullptr, 0, 0, 0, 0, nullptr), taken_(taken) {}
    int createSnapshotDevName() override {
        ++calls;
        DSnapshotProvider::createSnapshotDevName();
        return calls <= taken_ ? 0 : -1;
    }
    int calls = 0;

  private:
    int taken_;
};

// The sixth name comes after the fifth pause and is not used even though it is free.
TEST(LvmSnapshotOps, PreparationTriesNamesASecondApartAtMostFiveTimes) {
    FakeHost host;
    AllocTracker tracker;
    bkpSnapVolumeList_t node = volume(kTestSource);
    {
        CrowdedProvider full(&node, 5);
        FakeClock clock;
        EXPECT_EQ(full.beginPrepareSnapshot(), 5);
        EXPECT_EQ(full.calls, 6);
        EXPECT_EQ(clock.elapsed(), 5.0);
        EXPECT_STREQ(full.getVolumeGroup(), kTestVg);
        full.calls = 0;
        EXPECT_EQ(full.beginPrepareSnapshot(), 5) << "a second preparation takes new names";
    }
    DSnapshotProvider* bare = providerFor(nullptr);
    EXPECT_EQ(bare->beginPrepareSnapshot(), 5) << "no volume to prepare";
    delete bare;
    EXPECT_EQ(tracker.live(), 0u);
}

class LvmCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        provider = providerFor(&node);
        ASSERT_NE(provider, nullptr);
    }
    void TearDown() override { delete provider; }
    std::string nodeOf(const std::string& name) const { return lvm.group() + "/" + name; }

    FakeHost host;
    FakeLvm lvm;
    FakeClock clock;
    bkpSnapVolumeList_t node = volume(kTestSource);
    DSnapshotProvider* provider = nullptr;
    bkpSnapshotProperties_t props{};
};

// A path with shell syntax in it never reaches a command line; the host is told why.
TEST_F(LvmCommands, RefusedVolumePathRunsNothing) {
    node.source = const_cast<char*>("/dev/pisnp_unit_test_vg/home;touch marker");
    delete provider;
    provider = providerFor(&node);
    EXPECT_EQ(provider->beginPrepareSnapshot(), BKP_RC_INVALID_VOLUME_PATH);
    EXPECT_EQ(provider->getVolumeGroup(), nullptr);
    ASSERT_EQ(host.messageCalls().size(), 1u);
    EXPECT_EQ(host.messageCalls()[0].number, MSG_SNAP_CREATE_FAILED);
    EXPECT_NE(host.messageCalls()[0].inserts[1].find(node.source), std::string::npos);
    EXPECT_TRUE(host.traced("refused volume path <" + std::string(node.source) + ">"));
    EXPECT_EQ(provider->startSnapshot(&props), 5);
    EXPECT_EQ(provider->deleteSnapshot(), 0);
    EXPECT_TRUE(lvm.calls().empty());
}

// Another process created a snapshot under the name chosen here (same second): the next second's
// name is used, and only the provider's own snapshot is removed.
TEST_F(LvmCommands, NameTakenByAnotherProcessIsNotRemoved) {
    ASSERT_EQ(provider->beginPrepareSnapshot(), 0);
    std::string taken = provider->getSnapshotName();
    std::ofstream(nodeOf(taken)) << "another process's snapshot\n";
    ASSERT_EQ(provider->startSnapshot(&props), 0);
    std::string own = provider->getSnapshotName();
    EXPECT_NE(own, taken);
    EXPECT_EQ(clock.pauses(), 1);
    EXPECT_TRUE(provider->ownsSnapshot());
    EXPECT_EQ(std::string(props.devicePath), std::string("/dev/") + kTestVg + "/" + own);
    EXPECT_TRUE(host.messageCalls().empty());

    // While it stands, it is neither prepared nor started again, and keeps its names.
    EXPECT_EQ(provider->beginPrepareSnapshot(), BKP_RC_SNAPSHOT_STANDS);
    EXPECT_EQ(provider->startSnapshot(&props), BKP_RC_SNAPSHOT_STANDS);
    EXPECT_EQ(provider->getSnapshotName(), own);

    ASSERT_EQ(provider->deleteSnapshot(), 0);
    auto createOf = [](const std::string& n) {
        return "lvcreate -L 1048576K -n " + n + " -s " + kTestSource;
    };
    EXPECT_EQ(lvm.calls(),
              (std::vector<std::string>{createOf(taken), createOf(own),
                                        std::string("lvremove -f /dev/") + kTestVg + "/" + own}));
    EXPECT_TRUE(std::ifstream(nodeOf(taken)).good()) << "the other process's snapshot stays";
    EXPECT_FALSE(provider->ownsSnapshot());
    EXPECT_EQ(provider->beginPrepareSnapshot(), 0) << "removed: it may be prepared again";
}

// After a create that failed, the name may be another process's: termination removes nothing.
TEST_F(LvmCommands, FailedCreateRemovesNothing) {
    ASSERT_EQ(provider->beginPrepareSnapshot(), 0);
    lvm.answer("FAKELVM_LVCREATE_RC=5; FAKELVM_LVCREATE_ERR='  Logical Volume x already exists'");
    EXPECT_EQ(provider->startSnapshot(&props), 5);
    EXPECT_EQ(clock.pauses(), lvmops::kMaxNamePauses) << "retried within the bound";
    EXPECT_EQ(lvm.calls().size(), 1u + lvmops::kMaxNamePauses);
    ASSERT_EQ(host.messageCalls().size(), 1u) << "reported once";
    EXPECT_EQ(host.messageCalls()[0].number, MSG_SNAP_CREATE_FAILED);
    lvm.clearCalls();
    EXPECT_EQ(provider->deleteSnapshot(), 0);
    EXPECT_TRUE(lvm.calls().empty());
    EXPECT_EQ(host.lines().back(), "DSnapshotProvider::deleteSnapshot(): Exiting, rc = 0");
}

}  // namespace
