#include "snapshot/lvmSnapshotOps.h"

#include <gtest/gtest.h>
#include <sys/time.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "fakeHost.h"
#include "fakeLvm.h"
#include "snapshot/DSnapshotProvider.h"
#include "support/allocTracker.h"

namespace {

using pisnp_test::AllocTracker;
using snaptest::FakeHost;
using snaptest::FakeLvm;
using snaptest::kTestSource;
using snaptest::kTestVg;
using Clock = std::chrono::steady_clock;

bkpSnapVolumeList_t volume(const char* source, uint64_t f1 = 10737418240ULL, uint64_t f2 = 10) {
    bkpSnapVolumeList_t n{};
    n.source = const_cast<char*>(source);
    n.sizeFactor1 = f1;
    n.sizeFactor2 = f2;
    return n;
}

// A provider for one volume whose commands reach the fakes.
DSnapshotProvider* providerFor(bkpSnapVolumeList_t* list) {
    auto* p = static_cast<DSnapshotProvider*>(
        createSnapProvider(7, list, nullptr, nullptr, 0, 0, 0, 0, nullptr));
    if (p != nullptr) snaptest::useFakeCommands(p);
    return p;
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
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

TEST(LvmSnapshotOps, PrepareTakesTheGroupAndAFreeNameOfNow) {
    FakeHost host;
    AllocTracker tracker;
    bkpSnapVolumeList_t node = volume(kTestSource);
    DSnapshotProvider* p = providerFor(&node);
    ASSERT_NE(p, nullptr);

    time_t before = time(nullptr);
    ASSERT_EQ(p->beginPrepareSnapshot(), 0);
    time_t after = time(nullptr);
    EXPECT_STREQ(p->getVolumeGroup(), kTestVg);
    std::string name = p->getSnapshotName();
    bool matchesClock = false;
    for (time_t t = before; t <= after; ++t) {
        tm local{};
        localtime_r(&t, &local);
        char expected[64];
        lvmops::formatSnapshotName(expected, sizeof expected, local);
        matchesClock = matchesClock || name == expected;
    }
    EXPECT_TRUE(matchesClock) << name;
    int month = 0, day = 0, year = 0, hour = -1, minute = -1, second = -1;
    char rest = 0;
    EXPECT_EQ(std::sscanf(name.c_str(), "bkpsnapshot_date_%d_%d_%d_time_%d.%d.%d%c", &month, &day,
                          &year, &hour, &minute, &second, &rest),
              6)
        << name;
    EXPECT_TRUE(month >= 1 && month <= 12 && day >= 1 && year >= 2000 && hour >= 0) << name;

    // Preparing again chooses afresh and keeps no second set of names.
    ASSERT_EQ(p->beginPrepareSnapshot(), 0);
    delete p;
    EXPECT_EQ(tracker.live(), 0u);
}

TEST(LvmSnapshotOps, GroupParsedFromOddDevicePaths) {
    FakeHost host;
    struct Case {
        const char* source;
        const char* group;
    } cases[] = {
        {"/dev/vg01/lv_home", "vg01"},
        {"/dev/mapper-less", "mapper-less"},  // no second slash: the rest is the group
        {"/srv/vg01/lv_home", ""},            // not under /dev: no group
        {"/dev/", ""},
    };
    for (const Case& c : cases) {
        bkpSnapVolumeList_t node = volume(c.source);
        DSnapshotProvider* p = providerFor(&node);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->beginPrepareSnapshot(), 0) << c.source;
        EXPECT_STREQ(p->getVolumeGroup(), c.group) << c.source;
        EXPECT_EQ(std::strncmp(p->getSnapshotName(), "bkpsnapshot_date_", 17), 0);
        delete p;
    }
}

TEST(LvmSnapshotOps, ProviderWithoutVolumesNeitherPreparesNorRunsCommands) {
    FakeHost host;
    FakeLvm lvm;
    DSnapshotProvider* p = providerFor(nullptr);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->beginPrepareSnapshot(), 5);
    EXPECT_EQ(p->getVolumeGroup(), nullptr);

    bkpSnapshotProperties_t props;
    std::memset(&props, 0x77, sizeof props);
    EXPECT_EQ(p->startSnapshot(&props), 5);
    EXPECT_EQ(props.devicePath[0], 0x77) << "props untouched";
    EXPECT_EQ(p->deleteSnapshot(), 0) << "nothing was created, so nothing is left to remove";
    EXPECT_TRUE(lvm.calls().empty());
    delete p;
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

TEST(LvmSnapshotOps, NamesRetriedASecondApartAtMostFiveTimes) {
    FakeHost host;
    bkpSnapVolumeList_t node = volume(kTestSource);

    CrowdedProvider once(&node, 1);
    auto start = Clock::now();
    EXPECT_EQ(once.beginPrepareSnapshot(), 0);
    EXPECT_EQ(once.calls, 2);
    EXPECT_GE(secondsSince(start), 0.95);

    // The sixth name comes after the fifth pause and is not used even though it is free.
    CrowdedProvider full(&node, 5);
    start = Clock::now();
    EXPECT_EQ(full.beginPrepareSnapshot(), 5);
    EXPECT_EQ(full.calls, 6);
    EXPECT_GE(secondsSince(start), 4.9);
    EXPECT_LT(secondsSince(start), 8.0);
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
    std::string device = std::string("/dev/") + kTestVg + "/" + name;
    EXPECT_STREQ(props.devicePath, device.c_str());
    EXPECT_TRUE(lvm.nodeExists(name));
    std::string create = "lvcreate -L 1048576K -n " + name + " -s " + kTestSource;
    EXPECT_TRUE(host.traced("DSnapshotProvider::startSnapshot(): Enter \n"));
    EXPECT_TRUE(host.traced("DSnapshotProvider::startSnapshot(): snap cmd: <" + create +
                            " 1>/dev/null>\n"));
    EXPECT_TRUE(host.traced("DSnapshotProvider::startSnapshot(): Exiting, rc=0\n"));

    ASSERT_EQ(provider->deleteSnapshot(), 0);
    EXPECT_FALSE(lvm.nodeExists(name));
    std::string remove = "lvremove -f " + device;
    EXPECT_TRUE(host.traced("DSnapshotProvider::deleteSnapshot(): Entering...\n"));
    EXPECT_TRUE(host.traced("DSnapshotProvider::deleteSnapshot(): removing snapshot:\n" + remove +
                            " 1>/dev/null"));
    EXPECT_EQ(host.lines().back(), "DSnapshotProvider::deleteSnapshot(): Exiting, rc = 0");

    EXPECT_EQ(lvm.calls(), (std::vector<std::string>{create, remove}));
    EXPECT_TRUE(host.messages().empty());
}

TEST_F(LvmCommands, FailedCreateReportsTheVolumeManagersText) {
    lvm.answer("FAKELVM_LVCREATE_RC=5; FAKELVM_LVCREATE_ERR='  Insufficient free space'");
    bkpSnapshotProperties_t props{};
    EXPECT_EQ(provider->startSnapshot(&props), 5);
    EXPECT_EQ(std::string(props.devicePath), std::string("/dev/") + kTestVg + "/" + name)
        << "the device path is written after a failure too";
    ASSERT_EQ(host.messageCalls().size(), 1u);
    const snaptest::MessageCall& msg = host.messageCalls()[0];
    EXPECT_EQ(msg.number, 5250);
    ASSERT_EQ(msg.inserts.size(), 5u);
    EXPECT_EQ(msg.inserts[0], "DSnapshotProvider::startSnapshot():");
    EXPECT_EQ(msg.inserts[1], "  Insufficient free space\n");
    EXPECT_EQ(msg.inserts[2], "5");
    EXPECT_EQ(msg.inserts[3], "lvmSnapshotOps.cpp");
    EXPECT_GT(std::stoi(msg.inserts[4]), 0);
    EXPECT_TRUE(host.traced("DSnapshotProvider::startSnapshot(): Exiting, rc=5\n"));

    // Silence on the error stream: still a failure, but nothing to report.
    host.clear();
    lvm.answer("FAKELVM_LVCREATE_RC=3");
    EXPECT_EQ(provider->startSnapshot(&props), 5);
    EXPECT_TRUE(host.messages().empty());
    // A command that is not found at all fails the same way.
    host.clear();
    setenv("PATH", "/nonexistent", 1);
    lvm.answer("");
    EXPECT_EQ(provider->startSnapshot(&props), 5);
    ASSERT_EQ(host.messageCalls().size(), 1u);
    EXPECT_EQ(host.messageCalls()[0].inserts[2], "127");
}

TEST_F(LvmCommands, FailedRemoveReportsCommandAndText) {
    lvm.answer("FAKELVM_LVREMOVE_RC=7; FAKELVM_LVREMOVE_ERR='  Logical volume in use'");
    EXPECT_EQ(provider->deleteSnapshot(), 24);
    ASSERT_EQ(host.messageCalls().size(), 1u);
    const snaptest::MessageCall& msg = host.messageCalls()[0];
    EXPECT_EQ(msg.number, 8103);
    ASSERT_EQ(msg.inserts.size(), 6u);
    EXPECT_EQ(msg.inserts[0],
              std::string("lvremove -f /dev/") + kTestVg + "/" + name + " 1>/dev/null");
    EXPECT_EQ(msg.inserts[1], "DSnapshotProvider::deleteSnapshot():");
    EXPECT_EQ(msg.inserts[2], "  Logical volume in use\n");
    EXPECT_EQ(msg.inserts[3], "7");
    EXPECT_EQ(msg.inserts[4], "lvmSnapshotOps.cpp");
    EXPECT_GT(std::stoi(msg.inserts[5]), 0);
    EXPECT_EQ(host.lines().back(), "DSnapshotProvider::deleteSnapshot(): Exiting, rc = 24");

    host.clear();
    lvm.answer("FAKELVM_LVREMOVE_RC=7");
    EXPECT_EQ(provider->deleteSnapshot(), 24);
    EXPECT_TRUE(host.messages().empty());
}

// Every allocation along preparation, creation and removal may fail: each step answers with one
// of its codes and nothing is left behind.
TEST(LvmSnapshotOps, AllocationFailuresAlongPrepareStartDelete) {
    FakeHost host;
    FakeLvm lvm;
    bkpSnapVolumeList_t node = volume(kTestSource);
    for (bool andLater : {false, true}) {
        unsigned long steps = pisnp_test::sweepAllocationFailures(
            [&] {
                // {list copied, prepare, start, delete}, as far as the provider got.
                std::vector<int> rcs;
                DSnapshotProvider* p = providerFor(&node);
                if (p == nullptr) return rcs;
                rcs.push_back(p->getVolumeList() != nullptr);
                bkpSnapshotProperties_t props{};
                rcs.push_back(p->beginPrepareSnapshot());
                if (rcs.back() == 0) {
                    rcs.push_back(p->startSnapshot(&props));
                    rcs.push_back(p->deleteSnapshot());
                    if (rcs[2] == 1) {
                        EXPECT_EQ(props.devicePath[0], '\0');
                    }
                }
                delete p;
                return rcs;
            },
            [&](const std::vector<int>& rcs, bool injected, AllocTracker& tracker) {
                if (rcs.size() > 1) {
                    // A provider whose volume list could not be copied has nothing to prepare.
                    if (rcs[0] == 0) {
                        EXPECT_EQ(rcs[1], 5);
                    } else {
                        EXPECT_TRUE(rcs[1] == 0 || rcs[1] == 1) << rcs[1];
                    }
                }
                if (rcs.size() > 2) {
                    EXPECT_TRUE(rcs[2] == 0 || rcs[2] == 1 || rcs[2] == 5) << rcs[2];
                }
                if (rcs.size() > 3) {
                    EXPECT_TRUE(rcs[3] == 0 || rcs[3] == 1 || rcs[3] == 24) << rcs[3];
                }
                if (!injected) {
                    EXPECT_EQ(rcs, (std::vector<int>{1, 0, 0, 0}));
                }
                EXPECT_EQ(tracker.live(), 0u);
                // A snapshot whose removal failed would make the next round's name collide.
                std::error_code ignored;
                for (auto& e :
                     std::filesystem::directory_iterator(lvm.root() + "/dev/" + kTestVg, ignored))
                    std::filesystem::remove(e.path(), ignored);
            },
            andLater);
        EXPECT_GT(steps, 3u);
    }
}

}  // namespace
