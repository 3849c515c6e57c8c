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

std::vector<void*> freed;
void recordFree(void* p) {
    freed.push_back(p);
}

TEST(DFcgLinkedList, InsertsDeletesAndFindsPositions) {
    Probe list, other;
    EXPECT_EQ(list.GetItemAt(0), nullptr);
    std::vector<DFcgAbstractListItem*> items = {list.InsertAtTop(tag(2))};
    EXPECT_EQ(list.walk(), tags({2})) << "first insert is head and tail";
    items.insert(items.begin(), list.InsertAtTop(tag(1)));
    for (int i = 3; i < 6; ++i) items.push_back(list.InsertAtBottom(tag(i)));
    EXPECT_EQ(list.walk(), tags({1, 2, 3, 4, 5}));
    EXPECT_EQ(list.GetItemAt(1), items[1]);
    EXPECT_EQ(list.GetItemAt(5), nullptr);
    EXPECT_EQ(list.GetData(items[2]), tag(3)) << "the data pointer is stored as given";

    DFcgAbstractListItem* foreign = other.InsertAtBottom(tag(1));
    EXPECT_EQ(list.DeleteItem(foreign), 0);
    EXPECT_EQ(list.DeleteItem(nullptr), 0);
    EXPECT_EQ(Probe().DeleteItem(foreign), 0);
    for (int i : {2, 0, 4}) EXPECT_EQ(list.DeleteItem(items[i]), 1);
    EXPECT_EQ(list.walk(), tags({2, 4}));
    list.InsertAtBottom(tag(9));  // the tail moved to the predecessor
    EXPECT_EQ(list.walk(), tags({2, 4, 9}));
    EXPECT_EQ(other.DeleteItem(foreign), 1);
    EXPECT_EQ(other.walk(), tags({})) << "no dangling head or tail";
    other.InsertAtBottom(tag(2));
    EXPECT_EQ(other.walk(), tags({2}));
}

TEST(DFcgLinkedList, FindItemPassesDataThenKeyAndStopsAtFirstMatch) {
    int values[] = {5, 7, 7, 9};
    Probe list, empty;
    for (int& v : values) list.InsertAtBottom(&v);
    IntCompare cmp(false);
    int key = 7;
    EXPECT_EQ(list.GetData(list.FindItem(&key, &cmp)), &values[1]);
    EXPECT_EQ(cmp.calls,
              (std::vector<std::pair<void*, void*>>{{&values[0], &key}, {&values[1], &key}}));
    key = 4;
    EXPECT_EQ(list.FindItem(&key, &cmp), nullptr);
    EXPECT_EQ(cmp.calls.size(), 6u);
    EXPECT_EQ(empty.FindItem(&key, &cmp), nullptr);
    EXPECT_EQ(cmp.calls.size(), 6u) << "an empty list calls no compare";

    DFccAbstractCompare base;  // pointer values as unsigned numbers
    auto* high = reinterpret_cast<void*>(~uintptr_t{0});
    EXPECT_EQ(base.ccCompare(high, &key), 1);
    EXPECT_EQ(base.ccCompare(&key, high), 2);
}

TEST(DFcgLinkedList, FreeDestructorRunsOncePerDroppedItem) {
    freed.clear();
    {
        Probe list(recordFree), other(recordFree);
        DFcgAbstractListItem* first = list.InsertAtBottom(tag(1));
        list.InsertAtBottom(tag(2));
        EXPECT_EQ(list.DeleteItem(other.InsertAtBottom(tag(8))), 0);
        list.DeleteItem(first);
        EXPECT_EQ(freed, tags({1}));
        EXPECT_EQ(list.DeleteAllItems(), 0);
        EXPECT_EQ(freed, tags({1, 2}));
        list.InsertAtTop(tag(4));
    }
    EXPECT_EQ(freed, tags({1, 2, 8, 4})) << "the destructors drop the rest";

    AllocTracker tracker;
    auto* list = new DFcgLinkedList(DFcgAbstractList::StandardFreeDestructor);
    list->InsertAtBottom(ARC_MALLOC(10));
    list->InsertAtBottom(nullptr);  // skipped, not passed to arcFree
    list->DeleteItem(list->InsertAtBottom(ARC_MALLOC(3)));
    delete list;
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

TEST(DFcgLinkedList, SortOrdersEveryListAndKeepsEveryItem) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 400; ++round) {
        std::vector<int> values(rng() % 40);
        int range = 1 + static_cast<int>(rng() % 12);  // small ranges give many equal keys
        for (int& v : values) v = static_cast<int>(rng() % range);
        if (round % 4 == 1) std::sort(values.begin(), values.end());
        IntCompare cmp(true);
        Probe list;
        std::vector<size_t> order = sortedIndices(values, cmp, list);
        std::vector<size_t> seen = order;
        std::sort(seen.begin(), seen.end());
        for (size_t i = 0; i < seen.size(); ++i) ASSERT_EQ(seen[i], i) << "round " << round;
        for (size_t i = 1; i < order.size(); ++i) {
            ASSERT_LE(values[order[i - 1]], values[order[i]]) << "round " << round;
        }
        if (round % 4 == 1 && !values.empty()) {
            EXPECT_EQ(cmp.calls.size(), values.size() - 1) << "one run: a split and no merge";
        }
    }
    std::vector<int> descending = {9, 7, 5, 4, 2, 1, 0};
    IntCompare cmp(true);
    Probe list;
    sortedIndices(descending, cmp, list);
    EXPECT_EQ(list.GetData(list.tail()), &descending[0]) << "the greatest is the tail";
}

// Hosts' compare objects see every call: the calls, in their order, and the order of equal items
// that results, over many small lists, digested. The digest was recorded from the sort as it was
// first written.
TEST(DFcgLinkedList, SortMakesTheSameCompareCallsAsEver) {
    std::mt19937 rng(5);
    uint64_t digest = 1469598103934665603u;
    auto mix = [&digest](size_t n) { digest = (digest ^ n) * 1099511628211u; };
    for (int round = 0; round < 300; ++round) {
        std::vector<int> values(rng() % 14);
        for (int& v : values) v = static_cast<int>(rng() % 6);
        IntCompare cmp(true);
        Probe list;
        auto index = [&values](void* item) {
            return static_cast<size_t>(static_cast<int*>(static_cast<DFcgLinkItem*>(item)->data) -
                                       values.data());
        };
        for (size_t i : sortedIndices(values, cmp, list)) mix(i);
        for (auto [a, b] : cmp.calls) {
            mix(index(a));
            mix(index(b));
        }
    }
    EXPECT_EQ(digest, 4565933313355226814u);
}

TEST(DFcgLinkedList, FailedAllocationsReturnNullAndKeepTheList) {
    AllocTracker tracker;
    {
        Probe list(DFcgAbstractList::StandardFreeDestructor);
        list.InsertAtBottom(ARC_MALLOC(4));
        tracker.failAt(1, true);
        EXPECT_EQ(list.InsertAtTop(tag(1)), nullptr);
        EXPECT_EQ(list.InsertAtBottom(tag(1)), nullptr);
        EXPECT_EQ(new DFcgLinkedList, nullptr);
        EXPECT_EQ(list.walk().size(), 1u);
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
