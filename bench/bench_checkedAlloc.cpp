// The checked allocator against plain malloc/free for small blocks. Each pair of benchmarks
// runs in the same process; the checked one reports its time per pair as a ratio of the
// baseline measured just before it ("ratio_vs_malloc").
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>

#include "mem/checkedAlloc.h"

namespace {

constexpr int kBatch = 64;

// One timed sample: kRounds batches of kBatch allocations followed by their releases.
constexpr int kRounds = 4000;

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
    // Interleaved samples of both, so that machine noise hits them alike.
    double plain = 0, checked = 0;
    for (int i = 0; i < 7; ++i) {
        plain += nsPerPair([size] { plainRounds(size); });
        checked += nsPerPair([size] { checkedRounds(size); });
    }
    state.counters["ratio_vs_malloc"] = checked / plain;
    state.counters["malloc_ns"] = plain / 7;
    state.counters["arc_ns"] = checked / 7;
}

BENCHMARK(BM_Malloc)->Arg(16)->Arg(64)->Arg(256);
BENCHMARK(BM_ArcMalloc)->Arg(16)->Arg(64)->Arg(256);

}  // namespace

BENCHMARK_MAIN();
