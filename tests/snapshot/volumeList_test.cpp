#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
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

    HostList& add(const char* source, const char* target) {
        bkpSnapVolumeList_t n{};
        n.source = const_cast<char*>(source);
        n.target = const_cast<char*>(target);
        nodes.push_back(n);
        return *this;
    }
    bkpSnapVolumeList_t* head() {
        for (size_t i = 0; i + 1 < nodes.size(); ++i) nodes[i].next = &nodes[i + 1];
        return nodes.empty() ? nullptr : nodes.data();
    }
};

std::vector<std::string> sources(const bkpSnapVolumeList_t* list) {
    std::vector<std::string> out;
    for (; list != nullptr; list = list->next) out.emplace_back(list->source ? list->source : "");
    return out;
}

// The string fields of a node, by byte offset.
constexpr size_t kStrings[] = {16, 24, 32, 40, 56, 64, 88, 96, 104};

char*& stringAt(bkpSnapVolumeList_t* n, size_t offset) {
    return *reinterpret_cast<char**>(reinterpret_cast<unsigned char*>(n) + offset);
}

// Every byte set, every string field a text of its own.
bkpSnapVolumeList_t fullNode() {
    static char texts[9][8];
    bkpSnapVolumeList_t n;
    std::memset(&n, 0x5A, sizeof n);
    for (size_t i = 0; i < 9; ++i) {
        std::snprintf(texts[i], sizeof texts[i], "s%zu", kStrings[i]);
        stringAt(&n, kStrings[i]) = texts[i];
    }
    n.next = nullptr;
    return n;
}

// The node without what a copy does not carry over: its link, its strings, the unused fields.
bkpSnapVolumeList_t carried(bkpSnapVolumeList_t n) {
    for (size_t offset : kStrings) stringAt(&n, offset) = nullptr;
    n.next = nullptr;
    std::memset(n.reserved2, 0, sizeof n.reserved2);
    n.reserved86 = n.reserved112 = n.reserved118 = 0;
    n.reserved128 = 0;
    return n;
}

// A copy holds every string in a block of its own (none at 104 for a single node), every other
// field of the node but next and the unused last word as it was, and the node itself is new and
// zero-filled where nothing is copied.
TEST(SnapVolumeList, CopiesAreDeepAndFieldForField) {
    AllocTracker tracker;
    bkpSnapVolumeList_t from = fullNode();
    for (bool one : {false, true}) {
        bkpSnapVolumeList_t* to = nullptr;
        ASSERT_EQ(one ? copyOneSnapElement(&from, &to) : CopySnapList(&from, &to, 0), 0);
        for (size_t offset : kStrings) {
            if (one && offset == 104) {
                EXPECT_EQ(stringAt(to, offset), nullptr);
                continue;
            }
            EXPECT_NE(stringAt(to, offset), stringAt(&from, offset)) << offset;
            EXPECT_STREQ(stringAt(to, offset), stringAt(&from, offset)) << offset;
        }
        bkpSnapVolumeList_t a = carried(from), b = carried(*to);
        EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << one;
        EXPECT_EQ(to->reserved128, 0u) << "new nodes are zero-filled";

        freeSnapList(to, 0);
        for (size_t offset : kStrings) EXPECT_EQ(stringAt(to, offset), nullptr);
        EXPECT_EQ(tracker.live(), 1u) << "the strings are gone, the node is left";
        freeSnapList(to, 1);
        EXPECT_EQ(tracker.live(), 0u);
    }

    // Empty strings become null, and the value at 120 goes only with the string at 88.
    bkpSnapVolumeList_t sparse{};
    sparse.source = const_cast<char*>("/dev/vg/lv");
    sparse.volumeName = const_cast<char*>("");
    sparse.value120 = 77;
    bkpSnapVolumeList_t* to = nullptr;
    ASSERT_EQ(CopySnapList(&sparse, &to, 0), 0);
    EXPECT_EQ(to->volumeName, nullptr);
    EXPECT_EQ(to->value120, 0u);
    to->volumeName = const_cast<char*>("");  // a constant empty string is left alone
    freeSnapList(to, 1);
    EXPECT_EQ(tracker.live(), 0u);

    bkpSnapVolumeList_t* untouched = to;
    EXPECT_EQ(CopySnapList(nullptr, &untouched, 0), 0);
    EXPECT_EQ(copyOneSnapElement(nullptr, &untouched), 0);
    EXPECT_EQ(untouched, to);
}

TEST(SnapVolumeList, MergeSkipsDuplicatesAndRefusesHalfMatches) {
    AllocTracker tracker;
    HostList dup;
    dup.add("/dev/vg/a", "t1").add("/dev/vg/a", "t1").add("/dev/vg/b", "t2");
    bkpSnapVolumeList_t* kept = nullptr;
    ASSERT_EQ(CopySnapList(dup.head(), &kept, 0), 0);
    EXPECT_EQ(sources(kept).size(), 3u) << "without merging duplicates stay";
    freeSnapList(kept, 1);

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

    // Only the source equal to one already selected, or only the target within the new list:
    // refused, nothing added, nothing leaked.
    HostList clash, selfClash;
    clash.add("/dev/vg/d", "t4").add("/dev/vg/a", "other");
    selfClash.add("/dev/vg/x", "tx").add("/dev/vg/y", "tx");
    EXPECT_EQ(CopySnapList(clash.head(), &to, 1), BKP_RC_SNAP_VOLUME_CONFLICT);
    EXPECT_EQ(CopySnapList(selfClash.head(), &to, 1), BKP_RC_SNAP_VOLUME_CONFLICT);
    EXPECT_EQ(sources(to).size(), 3u);
    freeSnapList(to, 1);
    EXPECT_EQ(tracker.live(), 0u);

    // Missing strings never match each other: both targets null is not "the same target".
    HostList list;
    list.add("/dev/vg/a", "t1").add("/dev/vg/b", nullptr);
    int conflict = -1;
    bkpSnapVolumeList_t probe{};
    probe.source = const_cast<char*>("/dev/vg/z");
    EXPECT_EQ(IsSnapNodeInList(list.head(), &probe, &conflict), 0);
    EXPECT_EQ(conflict, 0);
    probe.source = const_cast<char*>("/dev/vg/b");
    EXPECT_EQ(IsSnapNodeInList(list.head(), &probe, &conflict), 0);
    EXPECT_EQ(conflict, 1);
}

TEST(SnapVolumeList, LinkingHelpers) {
    HostList a, b;
    a.add("/dev/vg/a1", "t").add("/dev/vg/a2", "t");
    b.add("/dev/vg/b1", "t");
    bkpSnapVolumeList_t* bHead = b.head();
    EXPECT_EQ(concatSnapList(nullptr, bHead), bHead);
    EXPECT_EQ(concatSnapList(a.head(), bHead), a.head());
    EXPECT_EQ(sources(a.head()).size(), 3u);

    bkpSnapVolumeList_t n1{}, n2{}, stray{};
    n2.next = &stray;  // append leaves the node's own link alone
    bkpSnapVolumeList_t* list = nullptr;
    EXPECT_EQ(appendElementToSnapList(&n1, &list), 0);
    EXPECT_EQ(appendElementToSnapList(&n2, &list), 0);
    EXPECT_EQ(list, &n1);
    EXPECT_EQ(n1.next, &n2);
    EXPECT_EQ(n2.next, &stray);

    bkpSnapVolumeList_t cleared = fullNode();
    initSnapList(&cleared);
    bkpSnapVolumeList_t zero{};
    cleared = carried(cleared);
    EXPECT_EQ(std::memcmp(&cleared, &zero, sizeof zero), 0) << "every field a list node uses";
}

TEST(SnapVolumeList, CopyRunningOutOfMemoryLeavesNothingBehind) {
    bkpSnapVolumeList_t first = fullNode(), second = fullNode();
    second.source = const_cast<char*>("/dev/vg01/lv_tmp");
    second.target = const_cast<char*>("tgt2");
    first.next = &second;
    for (int how : {0, 1, 2}) {  // copy, merge, one node
        auto steps = pisnp_test::sweepAllocationFailures(
            [&] {
                bkpSnapVolumeList_t* to = nullptr;
                int rc =
                    how == 2 ? copyOneSnapElement(&first, &to) : CopySnapList(&first, &to, how);
                if (rc == 0) freeSnapList(to, 1);
                return std::make_pair(rc, to);
            },
            [&](std::pair<int, bkpSnapVolumeList_t*> r, bool injected, AllocTracker& tracker) {
                EXPECT_EQ(r.first, injected ? 102 : 0);
                if (injected) {
                    EXPECT_EQ(r.second, nullptr) << "the caller's head is unchanged";
                }
                EXPECT_EQ(tracker.live(), 0u);
            });
        EXPECT_GT(steps, how == 2 ? 8u : 18u) << "every node and string allocation failed once";
    }
}

}  // namespace
