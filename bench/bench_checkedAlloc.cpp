// The checked allocator against plain malloc/free for small blocks. Each pair of benchmarks
// runs in the same process; the checked one reports its time per pair as a ratio of the
// baseline measured just before it ("ratio_vs_malloc").
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>

#include "mem/checkedAlloc.h"

namespace {

constexpr int kBatch = 64;

template <typename Alloc, typename Release>
double nsPerPair(size_t size, Alloc alloc, Release release) {
    void* blocks[kBatch];
    auto start = std::chrono::steady_clock::now();
    constexpr int kRounds = 2000;
    for (int r = 0; r < kRounds; ++r) {
        for (auto& b : blocks) {
            b = alloc(size);
            benchmark::DoNotOptimize(b);
        }
        for (auto* b : blocks) release(b);
    }
    std::chrono::duration<double, std::nano> d = std::chrono::steady_clock::now() - start;
    return d.count() / (kRounds * kBatch);
}

void* plainAlloc(size_t n) { return std::malloc(n); }
void plainFree(void* p) { std::free(p); }
void* checkedAlloc(size_t n) { return arcMalloc(n, "bench", 1); }
void checkedFree(void* p) { arcFree(p, "bench", 2); }

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
    // Interleaved samples of both, so that machine noise hits them alike.
    double plain = 0, checked = 0;
    for (int i = 0; i < 5; ++i) {
        plain += nsPerPair(size, plainAlloc, plainFree);
        checked += nsPerPair(size, checkedAlloc, checkedFree);
    }
    state.counters["ratio_vs_malloc"] = checked / plain;
}

BENCHMARK(BM_Malloc)->Arg(16)->Arg(64)->Arg(256);
BENCHMARK(BM_ArcMalloc)->Arg(16)->Arg(64)->Arg(256);

}  // namespace

BENCHMARK_MAIN();
