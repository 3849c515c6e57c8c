#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "pisnp/handleLists.h"
#include "pisnp/lists.h"

namespace {

struct Rec {
    Rec* next;
    int key;
    int index;  // position before sorting
};

const int kContext = 0;
bool wrongContext = false;

int byKey(const void* a, const void* b, const void* context) {
    if (context != &kContext) wrongContext = true;
    int x = static_cast<const Rec*>(a)->key;
    int y = static_cast<const Rec*>(b)->key;
    return (x > y) - (x < y);
}

// Sorts records with these keys; the original positions in sorted order. Checks the tail.
std::vector<int> sorted(const std::vector<int>& keys) {
    std::vector<Rec> recs(keys.size());
    for (size_t i = 0; i < recs.size(); ++i)
        recs[i] = {i + 1 < recs.size() ? &recs[i + 1] : nullptr, keys[i], int(i)};
    void* tail = &recs;
    auto* r =
        static_cast<Rec*>(sortBinMerge(recs.empty() ? nullptr : &recs[0], tail, byKey, &kContext));
    std::vector<int> order;
    Rec* last = nullptr;
    for (; r != nullptr && order.size() <= keys.size(); r = r->next) {
        order.push_back(r->index);
        last = r;
    }
    EXPECT_EQ(tail, last);
    EXPECT_FALSE(wrongContext);
    return order;
}

// The object lists' sort relinks step by step in the same natural merge order, so it tells
// where equal keys must end up.
std::vector<int> referenceOrder(const std::vector<int>& keys) {
    struct ByKey : DFccAbstractCompare {
        int ccCompare(void* a, void* b) override {
            int x = static_cast<Rec*>(static_cast<DFcgLinkItem*>(a)->data)->key;
            int y = static_cast<Rec*>(static_cast<DFcgLinkItem*>(b)->data)->key;
            return x == y ? kEqual : x > y ? kGreater : kLess;
        }
    } compare;
    std::vector<Rec> recs(keys.size());
    std::vector<DFcgLinkItem> items(keys.size());
    for (size_t i = 0; i < keys.size(); ++i) {
        recs[i] = {nullptr, keys[i], int(i)};
        items[i].data = &recs[i];
        items[i].next = i + 1 < keys.size() ? &items[i + 1] : nullptr;
    }
    DFcgLinkedList list;
    std::vector<int> order;
    for (DFcgLinkItem* p = list.sortBinMerge(items.empty() ? nullptr : &items[0], &compare);
         p != nullptr; p = p->next)
        order.push_back(static_cast<Rec*>(p->data)->index);
    return order;
}

enum Shape { kRandomFew, kRandomMany, kAscending, kDescending, kDescendingTies, kEqual, kRuns };

std::vector<int> keys(Shape shape, size_t n, std::mt19937& rng) {
    std::vector<int> k(n);
    for (size_t i = 0; i < n; ++i) {
        switch (shape) {
            case kRandomFew:
                k[i] = int(rng() % 5);
                break;
            case kRandomMany:
                k[i] = int(rng() % 1000000);
                break;
            case kAscending:
                k[i] = int(i / 3);
                break;
            case kDescending:
                k[i] = int(n - i);
                break;
            case kDescendingTies:
                k[i] = int((n - i) / 2);
                break;
            case kEqual:
                k[i] = 7;
                break;
            case kRuns:
                k[i] = i == 0 || rng() % 8 == 0 ? int(rng() % 20) : k[i - 1] + int(rng() % 2);
        }
    }
    return k;
}

TEST(SortBinMerge, SameOrderAsTheStepByStepMergeForEveryShape) {
    std::mt19937 rng(3);
    for (Shape shape :
         {kRandomFew, kRandomMany, kAscending, kDescending, kDescendingTies, kEqual, kRuns}) {
        for (size_t n : {0, 1, 2, 3, 5, 17, 100, 1000, 5000}) {
            std::vector<int> k = keys(shape, n, rng);
            std::vector<int> order = sorted(k);
            ASSERT_EQ(order, referenceOrder(k)) << shape << " " << n;
            ASSERT_TRUE(std::ranges::is_sorted(order, {}, [&k](int i) { return k[i]; }))
                << shape << " " << n;
        }
    }
}

// A million nodes (random keys: the benchmark's million): sorted, nothing lost, and equal keys in
// their old order where the chain was in order already.
TEST(SortBinMerge, MillionNodes) {
    constexpr size_t kN = 1000000;
    std::mt19937 rng(5);
    for (Shape shape : {kAscending, kDescending, kEqual}) {
        std::vector<int> k = keys(shape, kN, rng);
        std::vector<int> order = sorted(k);
        ASSERT_EQ(order.size(), kN);
        ASSERT_TRUE(std::ranges::is_sorted(order, {}, [&k](int i) { return k[i]; })) << shape;
        if (shape == kAscending || shape == kEqual) {
            for (size_t i = 0; i < kN; ++i) ASSERT_EQ(order[i], int(i)) << shape;
        } else {
            std::vector<bool> seen(kN);
            for (int i : order) seen[i] = true;
            ASSERT_EQ(std::count(seen.begin(), seen.end(), true), long(kN)) << shape;
        }
    }
}

}  // namespace
