// The volume manager work of one provider, in process: size arithmetic, the snapshot name and
// its room, the volume group, the retry limit, and the exact lines of commands run from an empty
// command directory. Whole snapshots through the host interface are host_road's to check.
#include "snapshot/lvmSnapshotOps.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "fakeHost.h"
#include "fakeLvm.h"
#include "pisnp/snapshotProvider.h"
#include "support/allocTracker.h"
#include "support/fakeClock.h"

namespace {

using pisnp_test::AllocTracker;
using snaptest::FakeHost;
using snaptest::FakeLvm;
using snaptest::kTestSource;
using snaptest::kTestVg;
using pisnp_test::FakeClock;

bkpSnapVolumeList_t volume(const char* source) {
    bkpSnapVolumeList_t n{};
    n.source = const_cast<char*>(source);
    n.sizeFactor1 = 10737418240ULL;
    n.sizeFactor2 = 10;
    return n;
}

// A provider for one volume whose commands reach the fakes.
DSnapshotProvider* providerFor(bkpSnapVolumeList_t* list) {
    auto* p = static_cast<DSnapshotProvider*>(
        createSnapProvider(7, list, nullptr, nullptr, 0, 0, 0, 0, nullptr));
    if (p != nullptr) snaptest::useFakeCommands(p);
    return p;
}

TEST(LvmSnapshotOps, SizeIsOneHundredthOfTheProductInKiB) {
    EXPECT_EQ(lvmops::snapshotSizeKiB(10737418240ULL, 10), 1048576u);
    EXPECT_EQ(lvmops::snapshotSizeKiB(10239, 10), 0u) << "product below 102400";
    EXPECT_EQ(lvmops::snapshotSizeKiB(102400, 1), 1u);
    EXPECT_EQ(lvmops::snapshotSizeKiB(1, 204799), 1u) << "rounds down";
    // The product wraps modulo 2^64 before dividing.
    EXPECT_EQ(lvmops::snapshotSizeKiB(1ULL << 32, 1ULL << 32), 0u);
    EXPECT_EQ(lvmops::snapshotSizeKiB(1ULL << 63, 3), 90071992547409u);
    EXPECT_EQ(lvmops::snapshotSizeKiB(UINT64_MAX, 1), 180143985094819u);
}

TEST(LvmSnapshotOps, NameFormAndItsRoom) {
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

    // The longest name of a four-digit year is 41 characters; a group with an empty name leaves
    // room for 40 and a NUL, and the name is cut rather than overrun.
    when.tm_mon = 11;
    when.tm_mday = 31;
    when.tm_hour = 23;
    when.tm_min = 59;
    when.tm_sec = 59;
    std::memset(buf, 'X', sizeof buf);
    lvmops::formatSnapshotName(buf, lvmops::snapshotNameRoom(0), when);
    EXPECT_EQ(std::string(buf), std::string("bkpsnapshot_date_12_31_2026_time_23.59.59", 40));
    EXPECT_EQ(buf[41], 'X');
}

TEST(LvmSnapshotOps, LocalTimeFallsBackToTwoDaysAfterTheEpoch) {
    time_t now = time(nullptr);
    tm expected{}, got{};
    localtime_r(&now, &expected);
    EXPECT_EQ(psLocalTime(&now, got), &got);
    EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0);

    // A year beyond what tm can hold makes localtime_r fail.
    time_t tooLate = LLONG_MAX;
    time_t fallback = 172800;
    localtime_r(&fallback, &expected);
    std::memset(&got, 0x5A, sizeof got);
    EXPECT_EQ(psLocalTime(&tooLate, got), &got);
    EXPECT_EQ(got.tm_year, expected.tm_year);
    EXPECT_EQ(got.tm_yday, expected.tm_yday);
    EXPECT_EQ(got.tm_hour, expected.tm_hour);
    EXPECT_EQ(got.tm_min, expected.tm_min);
}

// The group is what follows /dev/ up to the next slash. A provider without a volume has nothing
// to prepare. Preparing again chooses afresh and keeps no second set of names.
TEST(LvmSnapshotOps, PreparationTakesTheGroupFromTheDevicePath) {
    FakeHost host;
    struct Case {
        const char* source;  // nullptr: no volume list at all
        const char* group;
        int rc;
    } cases[] = {
        {kTestSource, kTestVg, 0},
        {"/dev/mapper-less", "mapper-less", 0},  // no second slash: the rest is the group
        {"/srv/vg01/lv_home", "", 0},            // not under /dev: no group
        {"/dev/", "", 0},
        {nullptr, nullptr, 5},
    };
    for (const Case& c : cases) {
        const char* what = c.source != nullptr ? c.source : "no volumes";
        AllocTracker tracker;
        bkpSnapVolumeList_t node = volume(c.source);
        DSnapshotProvider* p = providerFor(c.source != nullptr ? &node : nullptr);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->beginPrepareSnapshot(), c.rc) << what;
        EXPECT_STREQ(p->getVolumeGroup(), c.group) << what;
        if (c.rc == 0) {
            EXPECT_EQ(std::strncmp(p->getSnapshotName(), "bkpsnapshot_date_", 17), 0) << what;
            EXPECT_EQ(p->beginPrepareSnapshot(), 0) << what;
        }
        delete p;
        EXPECT_EQ(tracker.live(), 0u) << what;
    }
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
TEST(LvmSnapshotOps, NamesRetriedASecondApartAtMostFiveTimes) {
    FakeHost host;
    bkpSnapVolumeList_t node = volume(kTestSource);
    CrowdedProvider full(&node, 5);
    FakeClock clock;
    EXPECT_EQ(full.beginPrepareSnapshot(), 5);
    EXPECT_EQ(full.calls, 6);
    EXPECT_EQ(clock.pauses(), 5);
    EXPECT_EQ(clock.elapsed(), 5.0);
    EXPECT_NE(full.getSnapshotName(), nullptr) << "the last name tried stays";
}

class LvmCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        provider = providerFor(&node);
        ASSERT_NE(provider, nullptr);
        ASSERT_EQ(provider->beginPrepareSnapshot(), 0);
        name = provider->getSnapshotName();
        host.clear();
    }
    void TearDown() override { delete provider; }

    FakeHost host;
    FakeLvm lvm;
    bkpSnapVolumeList_t node = volume(kTestSource);
    DSnapshotProvider* provider = nullptr;
    std::string name;
};

TEST_F(LvmCommands, CreateAndRemoveThroughTheSearchPath) {
    bkpSnapshotProperties_t props{};
    ASSERT_EQ(provider->startSnapshot(&props), 0);
    std::string create = "lvcreate -L 1048576K -n " + name + " -s " + kTestSource;
    EXPECT_TRUE(host.traced("DSnapshotProvider::startSnapshot(): Enter \n"));
    EXPECT_TRUE(host.traced("DSnapshotProvider::startSnapshot(): snap cmd: <" + create +
                            " 1>/dev/null>\n"));
    EXPECT_TRUE(host.traced("DSnapshotProvider::startSnapshot(): Exiting, rc=0\n"));

    ASSERT_EQ(provider->deleteSnapshot(), 0);
    std::string remove = std::string("lvremove -f /dev/") + kTestVg + "/" + name;
    EXPECT_TRUE(host.traced("DSnapshotProvider::deleteSnapshot(): Entering...\n"));
    EXPECT_TRUE(host.traced("DSnapshotProvider::deleteSnapshot(): removing snapshot:\n" + remove +
                            " 1>/dev/null"));
    EXPECT_EQ(host.lines().back(), "DSnapshotProvider::deleteSnapshot(): Exiting, rc = 0");
    EXPECT_EQ(lvm.calls(), (std::vector<std::string>{create, remove}));
}

// The volume manager's error text reaches the host with the command, its status and where it
// failed; without any text there is nothing to report, only the code.
TEST_F(LvmCommands, FailuresReportTheTextThereIs) {
    lvm.answer("FAKELVM_LVREMOVE_RC=7");
    EXPECT_EQ(provider->deleteSnapshot(), 24);
    EXPECT_TRUE(host.messages().empty());
    EXPECT_EQ(host.lines().back(), "DSnapshotProvider::deleteSnapshot(): Exiting, rc = 24");

    lvm.answer("FAKELVM_LVREMOVE_RC=7; FAKELVM_LVREMOVE_ERR='  Logical volume in use'");
    EXPECT_EQ(provider->deleteSnapshot(), 24);
    ASSERT_EQ(host.messageCalls().size(), 1u);
    const snaptest::MessageCall& removal = host.messageCalls()[0];
    EXPECT_EQ(removal.number, 8103);
    ASSERT_EQ(removal.inserts.size(), 6u);
    EXPECT_EQ(removal.inserts[0],
              std::string("lvremove -f /dev/") + kTestVg + "/" + name + " 1>/dev/null");
    EXPECT_EQ(removal.inserts[2], "  Logical volume in use\n");
    EXPECT_EQ(removal.inserts[3], "7");
    EXPECT_GT(std::stoi(removal.inserts[5]), 0);

    // A volume manager that cannot be found fails like one that refuses, with the shell's text.
    setenv("PATH", "/nonexistent", 1);
    bkpSnapshotProperties_t props{};
    EXPECT_EQ(provider->startSnapshot(&props), 5);
    ASSERT_EQ(host.messageCalls().size(), 2u);
    const snaptest::MessageCall& creation = host.messageCalls()[1];
    EXPECT_EQ(creation.number, 5250);
    ASSERT_EQ(creation.inserts.size(), 5u);
    EXPECT_NE(creation.inserts[1], "");
    EXPECT_EQ(creation.inserts[2], "127");
    EXPECT_GT(std::stoi(creation.inserts[4]), 0);
}

}  // namespace
