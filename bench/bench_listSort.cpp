// DFcgLinkedList::SortList on 1 000 000 items, one checked block per item, with a virtual compare
// that reads the value out of the link's data pointer:
// - random order, against a plain rendering of the same split-and-merge passes over the same
//   items with the same compare ("ratio_vs_plain_passes", SortList's time over the plain one's);
// - already sorted, against std::list::sort of as many ints ("std_over_sortlist": how many times
//   std::list's time takes SortList's; std::list sorts by another method).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <list>
#include <random>
#include <vector>

#include "benchRatio.h"
#include "pisnp/lists.h"

namespace {

constexpr size_t kItems = 1000000;

uintptr_t valueOf(void* item) {
    return reinterpret_cast<uintptr_t>(static_cast<DFcgLinkItem*>(item)->data);
}

struct ByValue : DFccAbstractCompare {
    int ccCompare(void* a, void* b) override {
        uintptr_t x = valueOf(a), y = valueOf(b);
        return x == y ? kEqual : (x > y ? kGreater : kLess);
    }
};

// A list whose items can be put back into a given order between runs.
struct Bench : DFcgLinkedList {
    std::vector<DFcgLinkItem*> order;

    explicit Bench(bool sorted) {
        std::mt19937_64 rng(11);
        for (size_t i = 0; i < kItems; ++i) {
            auto value = sorted ? i : static_cast<size_t>(rng() % (kItems * 4));
            InsertAtBottom(reinterpret_cast<void*>(value));
        }
        for (DFcgLinkItem* p = head_; p != nullptr; p = p->next) order.push_back(p);
    }
    DFcgLinkItem* relink() {
        for (size_t i = 0; i + 1 < order.size(); ++i) order[i]->next = order[i + 1];
        order.back()->next = nullptr;
        head_ = order.front();
        tail_ = order.back();
        return head_;
    }
};

// The same passes written plainly: each split appends every item to the list it goes to, and
// each merge appends item by item.
DFcgLinkItem* plainPasses(DFcgLinkItem* head, DFccAbstractCompare* cmp) {
    auto greater = [cmp](DFcgLinkItem* x, DFcgLinkItem* y) { return cmp->ccCompare(x, y) == 1; };
    auto less = [cmp](DFcgLinkItem* x, DFcgLinkItem* y) { return cmp->ccCompare(x, y) == 2; };
    struct Chain {
        DFcgLinkItem* first = nullptr;
        DFcgLinkItem* last = nullptr;
        void add(DFcgLinkItem* x) {
            if (first == nullptr) {
                first = x;
            } else {
                last->next = x;
            }
            last = x;
        }
        void end() {
            if (last != nullptr) last->next = nullptr;
        }
    };
    for (;;) {
        Chain lists[2];
        int current = 0;
        for (DFcgLinkItem *x = head, *next; x != nullptr; x = next) {
            next = x->next;
            if (lists[current].last != nullptr && greater(lists[current].last, x)) current ^= 1;
            lists[current].add(x);
        }
        lists[0].end();
        lists[1].end();
        if (lists[1].first == nullptr) return lists[0].first;
        DFcgLinkItem* a = lists[0].first;
        DFcgLinkItem* b = lists[1].first;
        Chain out;
        auto take = [&out](DFcgLinkItem*& from) {
            DFcgLinkItem* x = from;
            from = from->next;
            out.add(x);
        };
        take(greater(a, b) ? b : a);
        while (a != nullptr && b != nullptr) {
            bool bFirst = greater(a, b);
            DFcgLinkItem*& j = bFirst ? b : a;
            DFcgLinkItem*& k = bFirst ? a : b;
            if (less(j, out.last)) {
                if (less(k, out.last)) {
                    take(j);
                } else {
                    take(k);
                    while (k != nullptr && !less(k, out.last)) take(k);
                }
            } else {
                take(j);
            }
        }
        for (DFcgLinkItem* rest = a != nullptr ? a : b; rest != nullptr;) take(rest);
        out.end();
        head = out.first;
    }
}

void BM_SortListRandom(benchmark::State& state) {
    Bench list(false);
    ByValue cmp;
    for (auto _ : state) {
        state.counters["ratio_vs_plain_passes"] = bench::ratio(
            [&] {
                list.relink();
                list.SortList(&cmp);
            },
            [&] { benchmark::DoNotOptimize(plainPasses(list.relink(), &cmp)); }, 1, 2);
    }
}

void BM_SortListPresorted(benchmark::State& state) {
    Bench list(true);
    ByValue cmp;
    std::list<uintptr_t> values;
    for (size_t i = 0; i < kItems; ++i) values.push_back(i);
    for (auto _ : state) {
        state.counters["std_over_sortlist"] =
            bench::ratio([&] { values.sort(); }, [&] { list.SortList(&cmp); }, 1, 5);
    }
}

// Each runs once, the presorted first: its items are then laid out in the order of the list, as
// the first items of a program are, not wherever the blocks of an earlier run were freed.
BENCHMARK(BM_SortListPresorted)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_SortListRandom)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
