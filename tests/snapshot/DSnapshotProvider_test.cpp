#include "pisnp/snapshotProvider.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "base/sysCalls.h"

#include "fakeHost.h"
#include "support/allocTracker.h"

namespace {

using pisnp_test::AllocTracker;
using snaptest::FakeHost;

bkpSnapVolumeList_t hostNode(const char* source, const char* target) {
    bkpSnapVolumeList_t n{};
    n.source = const_cast<char*>(source);
    n.target = const_cast<char*>(target);
    n.sizeFactor1 = 4096;
    n.sizeFactor2 = 25;
    return n;
}

// Providers built elsewhere derive from the base and are called through its table, so each
// operation must sit in its agreed slot (counting the two destructors as slots 1 and 2).
template <typename Pmf>
std::ptrdiff_t slotOf(Pmf pmf) {
    // A pointer to a virtual member holds one plus the slot's byte offset in the table.
    std::ptrdiff_t raw[2];
    static_assert(sizeof pmf == sizeof raw);
    std::memcpy(raw, &pmf, sizeof raw);
    EXPECT_EQ(raw[0] % static_cast<std::ptrdiff_t>(sizeof(void*)), 1) << "not virtual";
    return (raw[0] - 1) / static_cast<std::ptrdiff_t>(sizeof(void*)) + 1;
}

TEST(SnapshotProvider, OperationsSitInTheirTableSlots) {
    using B = DssSnapshotProvider;
    EXPECT_EQ(slotOf(&B::initSnapshotProvider), 3);
    EXPECT_EQ(slotOf(&B::termSnapshotProvider), 4);
    EXPECT_EQ(slotOf(&B::initializeSnapshot), 5);
    EXPECT_EQ(slotOf(&B::initializeSnapshotSet), 6);
    EXPECT_EQ(slotOf(&B::beginPrepareSnapshot), 7);
    EXPECT_EQ(slotOf(&B::endPrepareSnapshot), 8);
    EXPECT_EQ(slotOf(&B::startSnapshot), 9);
    EXPECT_EQ(slotOf(&B::endSnapshot), 10);
    EXPECT_EQ(slotOf(&B::deleteSnapshot), 11);
    EXPECT_EQ(slotOf(&B::getOBFInfo), 12);
    EXPECT_EQ(slotOf(&B::snapshotStatusCallback), 13);
    EXPECT_EQ(slotOf(&B::cleanUpOnError), 14);
    EXPECT_EQ(slotOf(&B::getErrorInfo), 15);
    EXPECT_EQ(slotOf(&B::cancelSnapshot), 16);
    EXPECT_EQ(slotOf(&B::snapshotAction), 17);
    EXPECT_EQ(slotOf(&DSnapshotProvider::createSnapshotDevName), 18);
    // The registry's compare object keeps its base's slots.
    EXPECT_EQ(slotOf(&DssSnapshotProviderCompare::ccCompare), 3);
}

// A bare provider, as start-up makes it, and one with private copies of the host's commands and
// volumes; without memory a provider is either not made or made without volumes, leaking nothing.
TEST(SnapshotProvider, BareAndWithTheHostsCommandsAndVolumes) {
    FakeHost host;
    AllocTracker tracker;
    DssSnapshotProvider* p = createSnapProvider(1, nullptr, nullptr, nullptr, 0, 0, 0, 0, nullptr);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->getVolumeList(), nullptr);
    EXPECT_EQ(p->getPreSnapshotCmd(), nullptr);
    EXPECT_EQ(p->getStatusCallbackRunning(), 0);
    unsigned short major = 7, minor = 7;
    EXPECT_EQ(p->initSnapshotProvider(&major, &minor), 0);
    EXPECT_EQ(major + minor, 14) << "the volume manager provider reports no version of its own";
    bkpSnapshotErrorInfo_t error, zero{};
    std::memset(&error, 0xFF, sizeof error);
    EXPECT_EQ(p->getErrorInfo(&error), 0);
    EXPECT_EQ(std::memcmp(&error, &zero, sizeof error), 0);
    EXPECT_EQ(p->getErrorInfo(nullptr), 0);
    EXPECT_TRUE(host.traced("DSnapshotProvider::DSnapshotProvider(): using root bin directory: <" +
                            std::string(static_cast<DSnapshotProvider*>(p)->getCommandDir()) +
                            ">\n"));
    delete p;

    char pre[] = "echo before", post[] = "";
    bkpSnapVolumeList_t second = hostNode("/dev/vg01/lv_var", "t2");
    bkpSnapVolumeList_t first = hostNode("/dev/vg01/lv_home", "t1");
    first.next = &second;
    p = createSnapProvider(9, &first, pre, post, 1, 2, 3, 4, &first);
    pre[0] = 'X';
    first.source = const_cast<char*>("/dev/changed/by_host");
    EXPECT_STREQ(p->getPreSnapshotCmd(), "echo before");
    EXPECT_EQ(p->getPostSnapshotCmd(), nullptr) << "an empty command is no command";
    ASSERT_NE(p->getVolumeList(), nullptr);
    EXPECT_STREQ(p->getVolumeList()->source, "/dev/vg01/lv_home");
    EXPECT_STREQ(p->getVolumeList()->next->source, "/dev/vg01/lv_var");
    delete p;
    EXPECT_EQ(tracker.live(), 0u) << "the copied list goes with the provider";

    pisnp_test::sweepAllocationFailures(
        [&] {
            host.clear();
            DssSnapshotProvider* q =
                createSnapProvider(3, &first, pre, nullptr, 0, 0, 0, 0, nullptr);
            std::pair made{q != nullptr, q != nullptr && q->getVolumeList() != nullptr};
            delete q;
            return made;
        },
        [&](std::pair<bool, bool> r, bool injected, AllocTracker& t) {
            EXPECT_TRUE(r.first || host.traced("createSnapProvider(): No more memory\n"));
            EXPECT_TRUE(!r.first || r.second == !injected) << "a list not copied is no list";
            EXPECT_EQ(t.live(), 0u);
        });
}

// The command directory of a provider built where only the given paths exist.
std::string commandDirWith(std::vector<std::string> existing) {
    static std::vector<std::string> paths;
    paths = std::move(existing);
    pisnp::sys::Override fakeStat(
        &pisnp::sys::Table::stat, +[](const char* path, struct stat*) {
            return std::find(paths.begin(), paths.end(), path) != paths.end() ? 0 : -1;
        });
    DSnapshotProvider provider(1, nullptr, nullptr, nullptr, 0, 0, 0, 0, nullptr);
    return provider.getCommandDir();
}

TEST(SnapshotProvider, FindsTheVolumeManagerCommands) {
    EXPECT_EQ(commandDirWith({}), "") << "left to the shell's search path";
    EXPECT_EQ(commandDirWith({"/usr/sbin/lvcreate"}), "/usr/sbin/");
    EXPECT_EQ(commandDirWith({"/sbin/lvcreate", "/usr/sbin/lvcreate"}), "/sbin/");
}

}  // namespace
