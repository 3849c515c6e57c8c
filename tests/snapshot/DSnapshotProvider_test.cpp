#include "pisnp/snapshotProvider.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstddef>
#include <cstring>
#include <string>

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

TEST(SnapshotProvider, BareProviderAsMadeAtStartUp) {
    FakeHost host;
    AllocTracker tracker;
    DssSnapshotProvider* p = createSnapProvider(1, nullptr, nullptr, nullptr, 0, 0, 0, 0, nullptr);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->getSnapshotID(), 1u);
    EXPECT_EQ(p->getVolumeList(), nullptr);
    EXPECT_EQ(p->getPreSnapshotCmd(), nullptr);
    EXPECT_EQ(p->getPostSnapshotCmd(), nullptr);
    EXPECT_EQ(p->getStatusCallbackRunning(), 0);

    unsigned short major = 7, minor = 7;
    EXPECT_EQ(p->initSnapshotProvider(&major, &minor), 0);
    EXPECT_EQ(major, 7) << "the volume manager provider reports no version of its own";
    EXPECT_EQ(minor, 7);

    bkpSnapshotErrorInfo_t error;
    std::memset(&error, 0xFF, sizeof error);
    EXPECT_EQ(p->getErrorInfo(&error), 0);
    bkpSnapshotErrorInfo_t zero{};
    EXPECT_EQ(std::memcmp(&error, &zero, sizeof error), 0);
    EXPECT_EQ(p->getErrorInfo(nullptr), 0);

    auto* lvm = static_cast<DSnapshotProvider*>(p);
    EXPECT_EQ(lvm->getVolumeGroup(), nullptr);
    EXPECT_EQ(lvm->getSnapshotName(), nullptr);
    EXPECT_TRUE(host.traced("DSnapshotProvider::DSnapshotProvider(): using root bin directory: <" +
                            std::string(lvm->getCommandDir()) + ">\n"));
    delete p;
    EXPECT_EQ(tracker.live(), 0u);
}

TEST(SnapshotProvider, KeepsPrivateCopiesOfCommandsAndVolumes) {
    AllocTracker tracker;
    char pre[] = "echo before";
    char post[] = "";
    bkpSnapVolumeList_t second = hostNode("/dev/vg01/lv_var", "t2");
    bkpSnapVolumeList_t first = hostNode("/dev/vg01/lv_home", "t1");
    first.next = &second;

    DssSnapshotProvider* p = createSnapProvider(9, &first, pre, post, 1, 2, 3, 4, &first);
    ASSERT_NE(p, nullptr);
    pre[0] = 'X';
    first.source = const_cast<char*>("/dev/changed/by_host");
    EXPECT_STREQ(p->getPreSnapshotCmd(), "echo before");
    EXPECT_EQ(p->getPostSnapshotCmd(), nullptr) << "an empty command is no command";

    const bkpSnapVolumeList_t* copy = p->getVolumeList();
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, &first);
    EXPECT_STREQ(copy->source, "/dev/vg01/lv_home");
    EXPECT_EQ(copy->sizeFactor1, 4096u);
    ASSERT_NE(copy->next, nullptr);
    EXPECT_STREQ(copy->next->source, "/dev/vg01/lv_var");
    delete p;
    EXPECT_EQ(tracker.live(), 0u) << "the copied list goes with the provider";
}

TEST(SnapshotProvider, RunningOutOfMemory) {
    FakeHost host;
    char pre[] = "echo before";
    bkpSnapVolumeList_t second = hostNode("/dev/vg01/lv_var", "t2");
    bkpSnapVolumeList_t first = hostNode("/dev/vg01/lv_home", "t1");
    first.next = &second;
    pisnp_test::sweepAllocationFailures(
        [&] {
            host.clear();
            DssSnapshotProvider* p =
                createSnapProvider(3, &first, pre, nullptr, 0, 0, 0, 0, nullptr);
            bool made = p != nullptr;
            bool withList = made && p->getVolumeList() != nullptr;
            delete p;
            return std::make_pair(made, withList);
        },
        [&](std::pair<bool, bool> r, bool injected, AllocTracker& tracker) {
            if (!r.first) {
                EXPECT_TRUE(host.traced("createSnapProvider(): No more memory\n"));
            } else {
                // A list that could not be copied leaves the provider without volumes.
                EXPECT_EQ(r.second, !injected);
            }
            EXPECT_EQ(tracker.live(), 0u);
        });
}

// Builds the provider inside a private root made of `layout` and answers its command directory.
// Runs in a child process, so the test's own root is never changed.
std::string commandDirUnder(const std::string& layout) {
    char root[] = "/tmp/pisnp-root-XXXXXX";
    if (mkdtemp(root) == nullptr) return "mkdtemp failed";
    std::string cmd = "cd " + std::string(root) + " && " + layout;
    if (std::system(cmd.c_str()) != 0) return "layout failed";

    int fds[2];
    if (pipe(fds) != 0) return "pipe failed";
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        if (chroot(root) != 0 || chdir("/") != 0) _exit(2);
        DSnapshotProvider provider(1, nullptr, nullptr, nullptr, 0, 0, 0, 0, nullptr);
        const char* dir = provider.getCommandDir();
        ssize_t n = write(fds[1], dir, std::strlen(dir));
        _exit(n < 0 ? 3 : 0);
    }
    close(fds[1]);
    std::string answer;
    char buf[64];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) answer.append(buf, n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    std::system(("rm -rf " + std::string(root)).c_str());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child failed";
    return answer;
}

TEST(SnapshotProvider, FindsTheVolumeManagerCommands) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to build a private root directory";
    EXPECT_EQ(commandDirUnder("mkdir -p sbin usr/sbin"), "");
    EXPECT_EQ(commandDirUnder("mkdir -p sbin usr/sbin && touch usr/sbin/lvcreate"), "/usr/sbin/");
    EXPECT_EQ(commandDirUnder("mkdir -p sbin usr/sbin && touch sbin/lvcreate usr/sbin/lvcreate"),
              "/sbin/");
    // Where /sbin is a link into /usr, the shorter name wins.
    EXPECT_EQ(
        commandDirUnder("mkdir -p usr/sbin && ln -s usr/sbin sbin && touch usr/sbin/lvcreate"),
        "/sbin/");
}

}  // namespace
