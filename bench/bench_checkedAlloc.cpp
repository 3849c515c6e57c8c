// The checked allocator against plain malloc/free for small blocks. Each pair of benchmarks
// runs in the same process; the checked one reports its time per pair as a ratio of the
// baseline ("ratio_vs_malloc", alternating samples, bench/benchRatio.h).
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "benchRatio.h"
#include "mem/checkedAlloc.h"

namespace {

constexpr int kBatch = 64;

// One timed sample: kRounds batches of kBatch allocations followed by their releases.
constexpr int kRounds = 1000;

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
    // Alternating samples timed by the thread's CPU time, the best of each: one sample disturbed
    // by another process does not decide it.
    state.counters["ratio_vs_malloc"] =
        bench::ratio([size] { checkedRounds(size); }, [size] { plainRounds(size); }, 1, 15);
}

BENCHMARK(BM_Malloc)->Arg(16)->Arg(64)->Arg(256);
BENCHMARK(BM_ArcMalloc)->Arg(16)->Arg(64)->Arg(256);

}  // namespace

BENCHMARK_MAIN();
