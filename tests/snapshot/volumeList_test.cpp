#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bkpSnapVolumeList.h"
#include "support/allocTracker.h"

namespace {

using pisnp_test::AllocTracker;

// Host-owned nodes: strings are literals, exactly what a host hands in.
struct HostList {
    std::vector<bkpSnapVolumeList_t> nodes;

    HostList& add(const char* source, const char* target, const char* name = "vol") {
        bkpSnapVolumeList_t n{};
        n.source = const_cast<char*>(source);
        n.target = const_cast<char*>(target);
        n.volumeName = const_cast<char*>(name);
        nodes.push_back(n);
        return *this;
    }
    bkpSnapVolumeList_t* head() {
        for (size_t i = 0; i + 1 < nodes.size(); ++i) nodes[i].next = &nodes[i + 1];
        if (!nodes.empty()) nodes.back().next = nullptr;
        return nodes.empty() ? nullptr : nodes.data();
    }
};

std::vector<std::string> sources(const bkpSnapVolumeList_t* list) {
    std::vector<std::string> out;
    for (; list != nullptr; list = list->next) out.emplace_back(list->source ? list->source : "");
    return out;
}

bkpSnapVolumeList_t fullNode() {
    bkpSnapVolumeList_t n{};
    n.value0 = 0x1234;
    n.source = const_cast<char*>("/dev/vg01/lv_home");
    n.volumeName = const_cast<char*>("home");
    n.string32 = const_cast<char*>("s32");
    n.string40 = const_cast<char*>("s40");
    n.sizeFactor1 = 10737418240ull;
    n.target = const_cast<char*>("tgt");
    n.string64 = const_cast<char*>("s64");
    n.sizeFactor2 = 10;
    n.value80 = 0xA0B0C0D0u;
    n.value84 = 0x8484;
    n.string88 = const_cast<char*>("s88");
    n.string96 = const_cast<char*>("s96");
    n.string104 = const_cast<char*>("s104");
    n.value114 = 114;
    n.value116 = 116;
    n.value120 = 0x120120120ull;
    n.reserved128 = 0xFFFF;
    return n;
}

TEST(SnapVolumeList, CopyIsDeepAndDropsEmptyStrings) {
    AllocTracker tracker;
    bkpSnapVolumeList_t from = fullNode();
    bkpSnapVolumeList_t second{};
    second.source = const_cast<char*>("/dev/vg01/lv_var");
    second.volumeName = const_cast<char*>("");  // empty: copied as null
    second.value120 = 77;                       // no string at 88: the value stays behind
    from.next = &second;

    bkpSnapVolumeList_t* to = nullptr;
    ASSERT_EQ(CopySnapList(&from, &to, 0), 0);
    ASSERT_NE(to, nullptr);
    ASSERT_NE(to->next, nullptr);
    EXPECT_EQ(to->next->next, nullptr);

    EXPECT_NE(to->source, from.source);
    EXPECT_STREQ(to->source, "/dev/vg01/lv_home");
    EXPECT_STREQ(to->volumeName, "home");
    EXPECT_STREQ(to->string32, "s32");
    EXPECT_STREQ(to->string40, "s40");
    EXPECT_STREQ(to->target, "tgt");
    EXPECT_STREQ(to->string64, "s64");
    EXPECT_STREQ(to->string88, "s88");
    EXPECT_STREQ(to->string96, "s96");
    EXPECT_STREQ(to->string104, "s104");
    EXPECT_EQ(to->value0, 0x1234);
    EXPECT_EQ(to->sizeFactor1, 10737418240ull);
    EXPECT_EQ(to->sizeFactor2, 10u);
    EXPECT_EQ(to->value80, 0xA0B0C0D0u);
    EXPECT_EQ(to->value84, 0x8484);
    EXPECT_EQ(to->value114, 114);
    EXPECT_EQ(to->value116, 116);
    EXPECT_EQ(to->value120, 0x120120120ull);
    EXPECT_EQ(to->reserved128, 0u) << "new nodes are zero-filled";

    EXPECT_EQ(to->next->volumeName, nullptr);
    EXPECT_EQ(to->next->target, nullptr);
    EXPECT_EQ(to->next->value120, 0u);

    freeSnapList(to, 1);
    EXPECT_EQ(tracker.live(), 0u);
}

TEST(SnapVolumeList, CopyWithoutMergeKeepsDuplicates) {
    HostList host;
    host.add("/dev/vg/a", "t1").add("/dev/vg/a", "t1").add("/dev/vg/a", "t2");
    bkpSnapVolumeList_t* to = nullptr;
    ASSERT_EQ(CopySnapList(host.head(), &to, 0), 0);
    EXPECT_EQ(sources(to).size(), 3u);
    freeSnapList(to, 1);

    bkpSnapVolumeList_t* untouched = reinterpret_cast<bkpSnapVolumeList_t*>(0x1);
    EXPECT_EQ(CopySnapList(nullptr, &untouched, 0), 0);
    EXPECT_EQ(untouched, reinterpret_cast<bkpSnapVolumeList_t*>(0x1));
}

TEST(SnapVolumeList, MergeSkipsDuplicatesAndRefusesHalfMatches) {
    AllocTracker tracker;
    HostList dup;
    dup.add("/dev/vg/a", "t1").add("/dev/vg/a", "t1").add("/dev/vg/b", "t2");
    bkpSnapVolumeList_t* to = nullptr;
    ASSERT_EQ(CopySnapList(dup.head(), &to, 1), 0);
    EXPECT_EQ(sources(to), (std::vector<std::string>{"/dev/vg/a", "/dev/vg/b"}));

    // Merging into a list that holds the volumes already adds only what is new, at the end.
    HostList more;
    more.add("/dev/vg/b", "t2").add("/dev/vg/c", "t3");
    bkpSnapVolumeList_t* head = to;
    ASSERT_EQ(CopySnapList(more.head(), &to, 1), 0);
    EXPECT_EQ(to, head);
    EXPECT_EQ(sources(to), (std::vector<std::string>{"/dev/vg/a", "/dev/vg/b", "/dev/vg/c"}));

    // Only the source equal to one already selected: refused, nothing added, nothing leaked.
    HostList clash;
    clash.add("/dev/vg/d", "t4").add("/dev/vg/a", "other");
    EXPECT_EQ(CopySnapList(clash.head(), &to, 1), BKP_RC_SNAP_VOLUME_CONFLICT);
    EXPECT_EQ(sources(to).size(), 3u);

    // Only the target equal, within the new list itself.
    HostList selfClash;
    selfClash.add("/dev/vg/x", "tx").add("/dev/vg/y", "tx");
    EXPECT_EQ(CopySnapList(selfClash.head(), &to, 1), BKP_RC_SNAP_VOLUME_CONFLICT);
    EXPECT_EQ(sources(to).size(), 3u);

    freeSnapList(to, 1);
    EXPECT_EQ(tracker.live(), 0u);
}

TEST(SnapVolumeList, NodeInListNeedsBothFieldsPresent) {
    HostList list;
    list.add("/dev/vg/a", "t1").add("/dev/vg/b", nullptr);
    int conflict = -1;

    bkpSnapVolumeList_t probe{};
    probe.source = const_cast<char*>("/dev/vg/a");
    probe.target = const_cast<char*>("t1");
    EXPECT_EQ(IsSnapNodeInList(list.head(), &probe, &conflict), 1);
    EXPECT_EQ(conflict, 0);

    probe.target = const_cast<char*>("t9");
    EXPECT_EQ(IsSnapNodeInList(list.head(), &probe, &conflict), 0);
    EXPECT_EQ(conflict, 1);

    // Missing strings never match each other: both targets null is not "the same target".
    probe.source = const_cast<char*>("/dev/vg/z");
    probe.target = nullptr;
    EXPECT_EQ(IsSnapNodeInList(list.head(), &probe, &conflict), 0);
    EXPECT_EQ(conflict, 0);

    probe.source = const_cast<char*>("/dev/vg/b");
    EXPECT_EQ(IsSnapNodeInList(list.head(), &probe, &conflict), 0);
    EXPECT_EQ(conflict, 1);

    EXPECT_EQ(IsSnapNodeInList(nullptr, &probe, &conflict), 0);
    EXPECT_EQ(conflict, 0);
}

TEST(SnapVolumeList, CopyOneLeavesString104Behind) {
    AllocTracker tracker;
    bkpSnapVolumeList_t from = fullNode();
    bkpSnapVolumeList_t other{};
    from.next = &other;
    bkpSnapVolumeList_t* to = nullptr;
    ASSERT_EQ(copyOneSnapElement(&from, &to), 0);
    ASSERT_NE(to, nullptr);
    EXPECT_EQ(to->next, nullptr);
    EXPECT_EQ(to->string104, nullptr);
    EXPECT_STREQ(to->string96, "s96");
    EXPECT_STREQ(to->string88, "s88");
    EXPECT_EQ(to->value120, 0x120120120ull);
    EXPECT_EQ(to->sizeFactor1, from.sizeFactor1);

    bkpSnapVolumeList_t* untouched = to;
    EXPECT_EQ(copyOneSnapElement(nullptr, &untouched), 0);
    EXPECT_EQ(untouched, to);
    freeSnapList(to, 1);
    EXPECT_EQ(tracker.live(), 0u);
}

TEST(SnapVolumeList, FreeReleasesStringsAndOptionallyNodes) {
    AllocTracker tracker;
    bkpSnapVolumeList_t from = fullNode();
    bkpSnapVolumeList_t* copy = nullptr;
    ASSERT_EQ(CopySnapList(&from, &copy, 0), 0);
    size_t withStrings = tracker.live();

    freeSnapList(copy, 0);
    EXPECT_EQ(tracker.live(), 1u) << "only the node itself is left";
    EXPECT_EQ(copy->source, nullptr);
    EXPECT_EQ(copy->string104, nullptr);
    EXPECT_EQ(copy->string88, nullptr);
    EXPECT_GT(withStrings, 1u);
    EXPECT_EQ(copy->sizeFactor1, from.sizeFactor1) << "numbers stay";

    // Constant empty strings of a host node are left alone rather than freed.
    copy->volumeName = const_cast<char*>("");
    freeSnapList(copy, 1);
    EXPECT_EQ(tracker.live(), 0u);
}

TEST(SnapVolumeList, LinkingHelpers) {
    HostList a, b;
    a.add("/dev/vg/a1", "t").add("/dev/vg/a2", "t");
    b.add("/dev/vg/b1", "t");
    bkpSnapVolumeList_t* bHead = b.head();
    EXPECT_EQ(concatSnapList(nullptr, bHead), bHead);
    bkpSnapVolumeList_t* aHead = a.head();
    EXPECT_EQ(concatSnapList(aHead, bHead), aHead);
    EXPECT_EQ(sources(aHead), (std::vector<std::string>{"/dev/vg/a1", "/dev/vg/a2", "/dev/vg/b1"}));

    bkpSnapVolumeList_t n1{}, n2{}, stray{};
    n2.next = &stray;  // append leaves the node's own link alone
    bkpSnapVolumeList_t* list = nullptr;
    EXPECT_EQ(appendElementToSnapList(&n1, &list), 0);
    EXPECT_EQ(list, &n1);
    EXPECT_EQ(appendElementToSnapList(&n2, &list), 0);
    EXPECT_EQ(n1.next, &n2);
    EXPECT_EQ(n2.next, &stray);

    bkpSnapVolumeList_t cleared = fullNode();
    cleared.next = &n1;
    initSnapList(&cleared);
    bkpSnapVolumeList_t zero{};
    zero.reserved128 = cleared.reserved128;  // not one of the fields a list node uses
    EXPECT_EQ(std::memcmp(&cleared, &zero, sizeof zero), 0);
}

TEST(SnapVolumeList, CopyRunningOutOfMemoryLeavesNothingBehind) {
    bkpSnapVolumeList_t first = fullNode();
    bkpSnapVolumeList_t second = fullNode();
    second.source = const_cast<char*>("/dev/vg01/lv_tmp");
    second.target = const_cast<char*>("tgt2");
    first.next = &second;

    for (int merge : {0, 1}) {
        auto steps = pisnp_test::sweepAllocationFailures(
            [&] {
                bkpSnapVolumeList_t* to = nullptr;
                int rc = CopySnapList(&first, &to, merge);
                if (rc == 0) freeSnapList(to, 1);
                return std::make_pair(rc, to);
            },
            [&](std::pair<int, bkpSnapVolumeList_t*> r, bool injected, AllocTracker& tracker) {
                if (injected) {
                    EXPECT_EQ(r.first, 102);
                    EXPECT_EQ(r.second, nullptr) << "the caller's head is unchanged";
                } else {
                    EXPECT_EQ(r.first, 0);
                }
                EXPECT_EQ(tracker.live(), 0u);
            });
        EXPECT_GT(steps, 10u) << "every node and string allocation was made to fail once";
    }

    pisnp_test::sweepAllocationFailures(
        [&] {
            bkpSnapVolumeList_t* to = nullptr;
            int rc = copyOneSnapElement(&first, &to);
            if (rc == 0) freeSnapList(to, 1);
            return std::make_pair(rc, to);
        },
        [&](std::pair<int, bkpSnapVolumeList_t*> r, bool injected, AllocTracker& tracker) {
            EXPECT_EQ(r.first, injected ? 102 : 0);
            if (injected) {
                EXPECT_EQ(r.second, nullptr);
            }
            EXPECT_EQ(tracker.live(), 0u);
        });
}

}  // namespace
