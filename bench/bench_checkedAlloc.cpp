// The checked allocator against plain malloc/free for small blocks. Each pair of benchmarks
// runs in the same process; the checked one reports its time per pair as a ratio of the
// baseline measured just before it ("ratio_vs_malloc", the median of interleaved samples).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <vector>

#include "mem/checkedAlloc.h"

namespace {

constexpr int kBatch = 64;

// One timed sample: kRounds batches of kBatch allocations followed by their releases.
constexpr int kRounds = 1000;

double median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

template <typename Loop>
double nsPerPair(Loop loop) {
    auto start = std::chrono::steady_clock::now();
    loop();
    std::chrono::duration<double, std::nano> d = std::chrono::steady_clock::now() - start;
    return d.count() / (kRounds * kBatch);
}

[[gnu::noinline]] void plainRounds(size_t size) {
    void* blocks[kBatch];
    for (int r = 0; r < kRounds; ++r) {
        for (auto& b : blocks) {
            b = std::malloc(size);
            benchmark::DoNotOptimize(b);
        }
        for (auto* b : blocks) std::free(b);
    }
}

[[gnu::noinline]] void checkedRounds(size_t size) {
    void* blocks[kBatch];
    for (int r = 0; r < kRounds; ++r) {
        for (auto& b : blocks) {
            b = arcMalloc(size, "bench", 1);
            benchmark::DoNotOptimize(b);
        }
        for (auto* b : blocks) arcFree(b, "bench", 2);
    }
}

void BM_Malloc(benchmark::State& state) {
    void* blocks[kBatch];
    const auto size = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        for (auto& b : blocks) {
            b = std::malloc(size);
            benchmark::DoNotOptimize(b);
        }
        for (auto* b : blocks) std::free(b);
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_ArcMalloc(benchmark::State& state) {
    void* blocks[kBatch];
    const auto size = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        for (auto& b : blocks) {
            b = arcMalloc(size, "bench", 1);
            benchmark::DoNotOptimize(b);
        }
        for (auto* b : blocks) arcFree(b, "bench", 2);
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    // Interleaved samples of both, so that machine noise hits them alike; the median of the
    // per-sample ratios, so that a sample disturbed by another process does not decide it.
    constexpr int kSamples = 31;
    std::vector<double> ratios, plain, checked;
    for (int i = 0; i < kSamples; ++i) {
        plain.push_back(nsPerPair([size] { plainRounds(size); }));
        checked.push_back(nsPerPair([size] { checkedRounds(size); }));
        ratios.push_back(checked.back() / plain.back());
    }
    state.counters["ratio_vs_malloc"] = median(ratios);
    state.counters["malloc_ns"] = median(plain);
    state.counters["arc_ns"] = median(checked);
}

BENCHMARK(BM_Malloc)->Arg(16)->Arg(64)->Arg(256);
BENCHMARK(BM_ArcMalloc)->Arg(16)->Arg(64)->Arg(256);

}  // namespace

BENCHMARK_MAIN();
