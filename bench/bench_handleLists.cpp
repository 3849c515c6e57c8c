// sortBinMerge of a million records against std::list::sort of the same keys, for random,
// ascending and descending keys. Records and list nodes have the same size and lie one after
// the other in memory in the order of their chain, so that what the allocator happens to hand
// out does not favour either. Each benchmark reports the median of its sort's times as a ratio of
// the baseline's, measured interleaved in the same run ("ratio_vs_list_sort", below 1 when
// sortBinMerge is faster; "..._same_compare" when the list sort, too, calls the compare function
// through a pointer) and checks that the chain came out in order.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <list>
#include <memory_resource>
#include <random>
#include <vector>

#include "pisnp/handleLists.h"

namespace {

constexpr size_t kNodes = 1000000;
constexpr int kSamples = 3;

// As large as a node of std::list<Rec>, which adds two links.
struct Rec {
    Rec* next;
    int key;
    char pad[16];
};

int byKey(const void* a, const void* b, const void*) {
    int x = static_cast<const Rec*>(a)->key;
    int y = static_cast<const Rec*>(b)->key;
    return (x > y) - (x < y);
}

std::vector<int> keys(int shape) {
    std::mt19937 rng(42);
    std::vector<int> k(kNodes);
    for (size_t i = 0; i < kNodes; ++i)
        k[i] = shape == 0 ? int(rng() % kNodes) : shape == 1 ? int(i) : int(kNodes - i);
    return k;
}

// On the thread's processor clock: the machine may be shared, and waiting for a processor is not
// what is measured.
template <typename Fn>
double msOf(Fn fn) {
    timespec start, end;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
    fn();
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
    return (end.tv_sec - start.tv_sec) * 1e3 + (end.tv_nsec - start.tv_nsec) / 1e6;
}

double sortChain(const std::vector<int>& k, benchmark::State& state) {
    std::vector<Rec> recs(k.size());
    for (size_t i = 0; i < k.size(); ++i)
        recs[i] = {i + 1 < k.size() ? &recs[i + 1] : nullptr, k[i], {}};
    void* head = &recs[0];
    void* tail = nullptr;
    double ms = msOf([&] { head = sortBinMerge(head, tail, byKey, nullptr); });
    size_t n = 0;
    for (auto* r = static_cast<Rec*>(head); r != nullptr; r = r->next, ++n)
        if (r->next != nullptr && r->next->key < r->key) state.SkipWithError("not in order");
    if (n != k.size()) state.SkipWithError("records lost");
    return ms;
}

// The plain sort compares inline; the other calls the same compare function as sortBinMerge,
// through a pointer, as a caller with a compare function of its own would.
double sortList(const std::vector<int>& k, bool sameCompare) {
    std::pmr::monotonic_buffer_resource memory(k.size() * 40);
    std::pmr::list<Rec> list(&memory);
    for (int key : k) list.push_back({nullptr, key, {}});
    llSortCompare_t compare = byKey;
    benchmark::DoNotOptimize(compare);
    double ms =
        sameCompare
            ? msOf([&] {
                  list.sort([compare](const Rec& a, const Rec& b) {
                      return compare(&a, &b, nullptr) < 0;
                  });
              })
            : msOf([&] { list.sort([](const Rec& a, const Rec& b) { return a.key < b.key; }); });
    benchmark::DoNotOptimize(list.front());
    return ms;
}

double median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

void BM_SortBinMerge(benchmark::State& state) {
    std::vector<int> k = keys(int(state.range(0)));
    std::vector<double> ours, theirs, theirsSameCompare;
    for (auto _ : state) {
        // Interleaved samples, so that machine noise hits all alike.
        for (int i = 0; i < kSamples; ++i) {
            theirs.push_back(sortList(k, false));
            ours.push_back(sortChain(k, state));
            theirsSameCompare.push_back(sortList(k, true));
        }
    }
    double o = median(ours);
    state.counters["ratio_vs_list_sort"] = o / median(theirs);
    state.counters["ratio_vs_list_sort_same_compare"] = o / median(theirsSameCompare);
    state.counters["sortBinMerge_ms"] = o;
    state.counters["list_sort_ms"] = median(theirs);
}

// 0 random, 1 ascending, 2 descending keys.
BENCHMARK(BM_SortBinMerge)->Arg(0)->Arg(1)->Arg(2)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
