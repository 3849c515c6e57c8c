// Pool allocation of small pieces against malloc/free and against
// std::pmr::monotonic_buffer_resource, doing what a pool is for: one round creates a pool, takes
// kPieces pieces of 16 bytes from it and destroys it, giving them all back at once. malloc gives
// them back one by one with free (it has no other way); the monotonic resource is made with the
// pool's increment and released. Samples of the three alternate, each on the thread's processor
// clock, and each counts with the median of its samples. The counters are the pool's time per
// piece as a ratio of each baseline's: "ratio_vs_malloc" (below 1 when the pool is faster) and
// "ratio_vs_monotonic".
//
// Two more show what the pool cannot go below: "bare_call_ns", a request through a function that
// only moves a pointer on (no handle, no checks), as every call into the library is a call the
// compiler cannot see into, where the monotonic resource is compiled into the caller's loop; and
// in a process that has had a second thread, where every pool operation takes the pool lock,
// "cas_ns", one compare-and-swap with a store after it, the least a lock costs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory_resource>
#include <thread>
#include <vector>

#include "benchRatio.h"
#include "pisnp/pools.h"

namespace {

constexpr int kPieces = 4096;
constexpr int kRounds = 100;
constexpr int kSamples = 15;
constexpr size_t kPieceSize = 16;
constexpr size_t kPoolKB = 64;

[[gnu::noinline]] void mallocRound() {
    static void* pieces[kPieces];
    for (auto& p : pieces) {
        p = std::malloc(kPieceSize);
        benchmark::DoNotOptimize(p);
    }
    for (auto* p : pieces) std::free(p);
}

[[gnu::noinline]] void poolRound() {
    mpHandle pool = ARCP_CREATE(kPoolKB);
    for (int i = 0; i < kPieces; ++i) benchmark::DoNotOptimize(mpAlloc(pool, kPieceSize));
    ARCP_DESTROY(pool);
}

[[gnu::noinline]] void monotonicRound() {
    std::pmr::monotonic_buffer_resource resource(kPoolKB * 1024);
    for (int i = 0; i < kPieces; ++i)
        benchmark::DoNotOptimize(resource.allocate(kPieceSize, alignof(std::max_align_t)));
    resource.release();
}

alignas(8) char bareBuffer[kPieces * kPieceSize];
size_t bareUsed = 0;

[[gnu::noipa]] void* bareCall(int, size_t size) {
    void* piece = bareBuffer + bareUsed;
    bareUsed += (size + 7) & ~size_t{7};
    return piece;
}

[[gnu::noinline]] void bareRound() {
    bareUsed = 0;
    for (int i = 0; i < kPieces; ++i) benchmark::DoNotOptimize(bareCall(1, kPieceSize));
}

std::atomic<uintptr_t> word{0};

[[gnu::noinline]] void casRound() {
    for (int i = 0; i < kPieces; ++i) {
        uintptr_t free = 0;
        word.compare_exchange_strong(free, 1, std::memory_order_acquire);
        word.store(0, std::memory_order_release);
    }
}

double perPiece(void (*round)()) {
    double start = bench::threadNs();
    for (int r = 0; r < kRounds; ++r) round();
    return (bench::threadNs() - start) / (double(kRounds) * kPieces);
}

double median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

void measure(benchmark::State& state, bool threaded) {
    mpPoolInit();
    std::vector<double> pool, plain, monotonic, bare, cas;
    for (auto _ : state) {
        // Interleaved, so that the machine's load hits all alike.
        for (int i = 0; i < kSamples; ++i) {
            plain.push_back(perPiece(mallocRound));
            pool.push_back(perPiece(poolRound));
            monotonic.push_back(perPiece(monotonicRound));
            bare.push_back(perPiece(bareRound));
            if (threaded) cas.push_back(perPiece(casRound));
        }
    }
    double p = median(pool);
    state.counters["ratio_vs_malloc"] = p / median(plain);
    state.counters["ratio_vs_monotonic"] = p / median(monotonic);
    state.counters["pool_ns"] = p;
    state.counters["malloc_ns"] = median(plain);
    state.counters["monotonic_ns"] = median(monotonic);
    state.counters["bare_call_ns"] = median(bare);
    if (threaded) state.counters["cas_ns"] = median(cas);
}

void BM_PoolPieces(benchmark::State& state) {
    measure(state, false);
}

// The pool lock is taken only once the process has had a second thread.
void BM_PoolPiecesThreaded(benchmark::State& state) {
    std::thread([] {}).join();
    measure(state, true);
}

// In this order: once a thread has run, the process counts as threaded for good.
BENCHMARK(BM_PoolPieces)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PoolPiecesThreaded)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
