#include "pisnp/lists.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

#include "support/allocTracker.h"

namespace {

using pisnp_test::AllocTracker;

// Opens the list's chain to the tests so that the invariants can be checked after each change.
struct Probe : DFcgLinkedList {
    using DFcgLinkedList::DFcgLinkedList;

    // Data pointers from head to tail; also checks count, tail and the terminating link.
    std::vector<void*> walk() {
        std::vector<void*> out;
        DFcgLinkItem* last = nullptr;
        for (DFcgLinkItem* p = head_; p != nullptr && out.size() <= numItems_; p = p->next) {
            out.push_back(p->data);
            last = p;
        }
        EXPECT_EQ(out.size(), numItems_);
        EXPECT_EQ(tail_, last);
        EXPECT_EQ(head_ == nullptr, numItems_ == 0);
        return out;
    }
    DFcgLinkItem* head() { return head_; }
    DFcgLinkItem* tail() { return tail_; }
};

void* tag(int n) {
    return reinterpret_cast<void*>(static_cast<uintptr_t>(n) * 16 + 8);
}

std::vector<void*> tags(std::initializer_list<int> ns) {
    std::vector<void*> out;
    for (int n : ns) out.push_back(tag(n));
    return out;
}

// Orders items by the int they point to and records every call.
struct IntCompare : DFccAbstractCompare {
    bool linkItems;  // sorting hands over link items, finding hands over data pointers
    std::vector<std::pair<void*, void*>> calls;
    explicit IntCompare(bool items) : linkItems(items) {}
    int ccCompare(void* a, void* b) override {
        calls.emplace_back(a, b);
        int x = value(a), y = linkItems ? value(b) : *static_cast<int*>(b);
        return x == y ? kEqual : (x > y ? kGreater : kLess);
    }
    int value(void* p) const {
        return *static_cast<int*>(linkItems ? static_cast<DFcgLinkItem*>(p)->data : p);
    }
};

int freeCalls = 0;
std::vector<void*> freed;
void recordFree(void* p) {
    ++freeCalls;
    freed.push_back(p);
}

TEST(DFcgLinkedList, InsertsAtBothEndsAndFindsPositions) {
    Probe list;
    EXPECT_EQ(list.IsEmpty(), 1);
    EXPECT_EQ(list.GetItemAt(0), nullptr);
    DFcgAbstractListItem* two = list.InsertAtTop(tag(2));
    ASSERT_NE(two, nullptr);
    EXPECT_EQ(list.head(), list.tail()) << "first insert is head and tail";
    list.InsertAtTop(tag(1));
    DFcgAbstractListItem* three = list.InsertAtBottom(tag(3));
    EXPECT_EQ(list.walk(), tags({1, 2, 3}));
    EXPECT_EQ(list.GetNumItems(), 3u);
    EXPECT_EQ(list.IsEmpty(), 0);
    EXPECT_EQ(list.GetItemAt(1), two);
    EXPECT_EQ(list.GetItemAt(2), three);
    EXPECT_EQ(list.GetItemAt(3), nullptr);
    EXPECT_EQ(list.GetItemAt(~0u), nullptr);
    // The data pointer is stored as given, never copied.
    EXPECT_EQ(list.GetData(three), tag(3));

    Probe bottomFirst;
    bottomFirst.InsertAtBottom(tag(7));
    EXPECT_EQ(bottomFirst.head(), bottomFirst.tail());
    bottomFirst.InsertAtTop(tag(6));
    EXPECT_EQ(bottomFirst.walk(), tags({6, 7}));
}

TEST(DFcgLinkedList, DeleteItemRelinksHeadMiddleAndTail) {
    Probe list;
    std::vector<DFcgAbstractListItem*> items;
    for (int i = 0; i < 5; ++i) items.push_back(list.InsertAtBottom(tag(i)));

    EXPECT_EQ(list.DeleteItem(items[2]), 1);
    EXPECT_EQ(list.walk(), tags({0, 1, 3, 4}));
    EXPECT_EQ(list.DeleteItem(items[0]), 1);
    EXPECT_EQ(list.walk(), tags({1, 3, 4}));
    EXPECT_EQ(list.DeleteItem(items[4]), 1);
    EXPECT_EQ(list.walk(), tags({1, 3}));
    // The tail moved to the predecessor: a new bottom item links after it.
    list.InsertAtBottom(tag(9));
    EXPECT_EQ(list.walk(), tags({1, 3, 9}));
}

TEST(DFcgLinkedList, DeleteItemRefusesWhatIsNotInTheList) {
    Probe list, other;
    list.InsertAtBottom(tag(1));
    list.InsertAtBottom(tag(2));
    DFcgAbstractListItem* foreign = other.InsertAtBottom(tag(1));
    EXPECT_EQ(list.DeleteItem(foreign), 0);
    EXPECT_EQ(list.DeleteItem(nullptr), 0);
    EXPECT_EQ(list.walk(), tags({1, 2}));
    EXPECT_EQ(other.walk(), tags({1}));

    Probe empty;
    EXPECT_EQ(empty.DeleteItem(foreign), 0);

    // Deleting the only item leaves no dangling head or tail behind.
    EXPECT_EQ(other.DeleteItem(foreign), 1);
    EXPECT_EQ(other.head(), nullptr);
    EXPECT_EQ(other.tail(), nullptr);
    other.InsertAtBottom(tag(2));
    EXPECT_EQ(other.walk(), tags({2}));
}

TEST(DFcgLinkedList, FindItemPassesDataThenKeyAndStopsAtFirstMatch) {
    int values[] = {5, 7, 7, 9};
    Probe list;
    for (int& v : values) list.InsertAtBottom(&v);
    IntCompare cmp(false);
    int key = 7;
    DFcgAbstractListItem* found = list.FindItem(&key, &cmp);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(list.GetData(found), &values[1]);
    ASSERT_EQ(cmp.calls.size(), 2u);
    EXPECT_EQ(cmp.calls[0],
              std::make_pair(static_cast<void*>(&values[0]), static_cast<void*>(&key)));

    key = 4;
    cmp.calls.clear();
    EXPECT_EQ(list.FindItem(&key, &cmp), nullptr);
    EXPECT_EQ(cmp.calls.size(), 4u);

    Probe empty;
    cmp.calls.clear();
    EXPECT_EQ(empty.FindItem(&key, &cmp), nullptr);
    EXPECT_TRUE(cmp.calls.empty());
}

TEST(DFcgLinkedList, BaseCompareOrdersPointerValuesAsUnsigned) {
    DFccAbstractCompare cmp;
    auto* low = reinterpret_cast<void*>(uintptr_t{0x10});
    auto* high = reinterpret_cast<void*>(~uintptr_t{0});  // negative if read as signed
    EXPECT_EQ(cmp.ccCompare(low, low), 0);
    EXPECT_EQ(cmp.ccCompare(high, low), 1);
    EXPECT_EQ(cmp.ccCompare(low, high), 2);

    Probe list;
    list.InsertAtBottom(low);
    list.InsertAtBottom(high);
    EXPECT_EQ(list.FindItem(high, &cmp), list.GetItemAt(1));
}

TEST(DFcgLinkedList, FreeDestructorRunsOncePerDroppedItem) {
    freeCalls = 0;
    freed.clear();
    {
        Probe list(recordFree);
        DFcgAbstractListItem* first = list.InsertAtBottom(tag(1));
        list.InsertAtBottom(tag(2));
        list.InsertAtBottom(tag(3));
        Probe other(recordFree);
        EXPECT_EQ(list.DeleteItem(other.InsertAtBottom(tag(8))), 0);
        EXPECT_EQ(freeCalls, 0) << "a refused delete drops nothing";
        list.DeleteItem(first);
        EXPECT_EQ(freed, tags({1}));
        EXPECT_EQ(list.DeleteAllItems(), 0);
        EXPECT_EQ(freed, tags({1, 2, 3}));
        list.InsertAtTop(tag(4));
        list.InsertAtTop(tag(5));
    }
    // Destroying both lists drops 5, 4 and the other list's 8.
    EXPECT_EQ(freeCalls, 6);
    EXPECT_EQ(std::count(freed.begin(), freed.end(), tag(4)), 1);
    EXPECT_EQ(std::count(freed.begin(), freed.end(), tag(8)), 1);
}

TEST(DFcgLinkedList, StandardFreeDestructorReleasesCheckedBlocksOnly) {
    AllocTracker tracker;
    int outside = 3;
    {
        auto* list = new DFcgLinkedList(DFcgAbstractList::StandardFreeDestructor);
        ASSERT_NE(list, nullptr);
        list->InsertAtBottom(ARC_MALLOC(10));
        list->InsertAtBottom(nullptr);  // skipped, not passed to arcFree
        list->DeleteItem(list->InsertAtBottom(ARC_MALLOC(3)));
        list->InsertAtBottom(ARC_MALLOC(7));
        EXPECT_EQ(list->GetNumItems(), 3u);
        delete list;
    }
    EXPECT_EQ(tracker.live(), 0u);
    {
        DFcgLinkedList borrowed;  // without a free-destructor the data is left alone
        borrowed.InsertAtBottom(&outside);
    }
    EXPECT_EQ(outside, 3);
    EXPECT_EQ(tracker.live(), 0u);
}

// Builds a list of pointers into values, sorts it and returns the sorted values' indices.
std::vector<size_t> sortedIndices(std::vector<int>& values, IntCompare& cmp, Probe& list) {
    for (int& v : values) list.InsertAtBottom(&v);
    list.SortList(&cmp);
    std::vector<size_t> out;
    for (void* p : list.walk()) out.push_back(static_cast<int*>(p) - values.data());
    return out;
}

TEST(DFcgLinkedList, SortOfAscendingListIsOneSplitPass) {
    std::vector<int> values = {1, 2, 2, 3, 8, 9};
    IntCompare cmp(true);
    Probe list;
    EXPECT_EQ(sortedIndices(values, cmp, list), (std::vector<size_t>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(cmp.calls.size(), values.size() - 1) << "a single run needs no merge";

    std::vector<int> one = {4};
    Probe single, empty;
    cmp.calls.clear();
    EXPECT_EQ(sortedIndices(one, cmp, single), (std::vector<size_t>{0}));
    empty.SortList(&cmp);
    EXPECT_EQ(empty.tail(), nullptr);
    EXPECT_TRUE(cmp.calls.empty());
}

TEST(DFcgLinkedList, SortOfDescendingListEndsWithGreatestAsTail) {
    std::vector<int> values = {9, 7, 5, 4, 2, 1, 0};
    IntCompare cmp(true);
    Probe list;
    EXPECT_EQ(sortedIndices(values, cmp, list), (std::vector<size_t>{6, 5, 4, 3, 2, 1, 0}));
    EXPECT_EQ(list.GetData(list.tail()), &values[0]);
    list.InsertAtBottom(tag(1));  // the stored tail is the real last link
    EXPECT_EQ(list.walk().back(), tag(1));
}

TEST(DFcgLinkedList, SortOrdersRandomListsAndKeepsEveryItem) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 400; ++round) {
        size_t n = rng() % 40;
        int range = 1 + static_cast<int>(rng() % 12);  // small ranges give many equal keys
        std::vector<int> values(n);
        for (int& v : values) v = static_cast<int>(rng() % range);
        IntCompare cmp(true);
        Probe list;
        std::vector<size_t> order = sortedIndices(values, cmp, list);
        ASSERT_EQ(order.size(), n);
        std::vector<size_t> seen = order;
        std::sort(seen.begin(), seen.end());
        for (size_t i = 0; i < n; ++i) ASSERT_EQ(seen[i], i) << "round " << round;
        for (size_t i = 1; i < n; ++i) {
            ASSERT_LE(values[order[i - 1]], values[order[i]]) << "round " << round;
        }
    }
}

// The merge is not stable: runs are dealt alternately, so equal items from later runs can pass
// earlier ones. This pins down exactly where ties land.
TEST(DFcgLinkedList, SortPlacesEqualItemsByRunNotByInsertion) {
    std::vector<int> values = {0, 1, 0, 3, 5, 1, 5};
    IntCompare cmp(true);
    Probe list;
    EXPECT_EQ(sortedIndices(values, cmp, list), (std::vector<size_t>{0, 2, 1, 5, 3, 6, 4}));
}

TEST(DFcgLinkedList, FailedAllocationsReturnNullAndKeepTheList) {
    AllocTracker tracker;
    {
        Probe list(DFcgAbstractList::StandardFreeDestructor);
        list.InsertAtBottom(ARC_MALLOC(4));
        tracker.failAt(1);
        EXPECT_EQ(list.InsertAtTop(tag(1)), nullptr);
        tracker.failAt(1);
        EXPECT_EQ(list.InsertAtBottom(tag(1)), nullptr);
        EXPECT_EQ(list.walk().size(), 1u);
        tracker.failAt(1);
        EXPECT_EQ(new DFcgLinkedList, nullptr);
        tracker.failAt(0);
        list.InsertAtBottom(ARC_MALLOC(4));
        EXPECT_EQ(list.walk().size(), 2u);
    }
    EXPECT_EQ(tracker.failures(), 3u);
    EXPECT_EQ(tracker.live(), 0u);
}

// Hosts reach the operations through the table, by position: the order may never change.
TEST(DFcgLinkedList, VirtualOperationsSitInTheirSlots) {
    int a = 2, b = 1, key = 1;
    auto* list = new DFcgLinkedList;
    ASSERT_NE(list, nullptr);
    void** table = *reinterpret_cast<void***>(list);
    using Item = DFcgAbstractListItem*;
    using L = DFcgLinkedList*;
    auto call = [&]<typename R, typename... A>(int index, R (*)(L, A...), A... args) {
        return reinterpret_cast<R (*)(L, A...)>(table[index])(list, args...);
    };
    call(7, static_cast<Item (*)(L, void*)>(nullptr), static_cast<void*>(&a));  // InsertAtBottom
    Item first = call(6, static_cast<Item (*)(L, void*)>(nullptr), static_cast<void*>(&b));
    EXPECT_EQ(call(2, static_cast<unsigned (*)(L)>(nullptr)), 2u);            // GetNumItems
    EXPECT_EQ(call(3, static_cast<int (*)(L)>(nullptr)), 0);                  // IsEmpty
    EXPECT_EQ(call(4, static_cast<void* (*)(L, Item)>(nullptr), first), &b);  // GetData
    EXPECT_EQ(call(5, static_cast<Item (*)(L, unsigned)>(nullptr), 1u), list->GetItemAt(1));
    IntCompare finder(false), sorter(true);
    DFccAbstractCompare* f = &finder;
    EXPECT_EQ(call(10, static_cast<Item (*)(L, void*, DFccAbstractCompare*)>(nullptr),
                   static_cast<void*>(&key), f),
              first);  // FindItem
    DFccAbstractCompare* s = &sorter;
    call(11, static_cast<void (*)(L, DFccAbstractCompare*)>(nullptr), s);  // SortList
    EXPECT_EQ(sorter.calls.size(), 1u);
    EXPECT_EQ(call(8, static_cast<int (*)(L, Item)>(nullptr), first), 1);  // DeleteItem
    EXPECT_EQ(call(9, static_cast<int (*)(L)>(nullptr)), 0);               // DeleteAllItems
    EXPECT_EQ(list->GetNumItems(), 0u);
    call(1, static_cast<void (*)(L)>(nullptr));  // deleting destructor
}

}  // namespace
