// Pool allocation of small pieces against malloc/free and against
// std::pmr::monotonic_buffer_resource. One round takes kPieces pieces of 16 bytes and gives them
// all back: one by one for malloc, all at once for the pool (arcpDestroy) and the monotonic
// resource (release). The counters are the pool's time per piece as a ratio of each baseline's,
// measured interleaved in the same run: "ratio_vs_malloc" (below 1 when the pool is faster) and
// "ratio_vs_monotonic". The pool takes its lock only once the process has a second thread, so
// both are measured first in a process without threads and then again after one has run
// (BM_PoolPiecesThreaded).
#include <benchmark/benchmark.h>

#include <ctime>
#include <cstdlib>
#include <memory_resource>
#include <thread>

#include "pisnp/pools.h"

namespace {

constexpr int kPieces = 4096;
constexpr int kRounds = 200;
constexpr size_t kPieceSize = 16;

// On the thread's processor clock: the machine may be shared, and waiting for a processor is not
// what is measured.
double cpuNs() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e9 + t.tv_nsec;
}

template <typename Round>
double nsPerPiece(Round round) {
    double start = cpuNs();
    for (int r = 0; r < kRounds; ++r) round();
    return (cpuNs() - start) / (double(kRounds) * kPieces);
}

[[gnu::noinline]] void mallocRound() {
    static void* pieces[kPieces];
    for (auto& p : pieces) {
        p = std::malloc(kPieceSize);
        benchmark::DoNotOptimize(p);
    }
    for (auto* p : pieces) std::free(p);
}

[[gnu::noinline]] void poolRound() {
    mpHandle pool = ARCP_CREATE(64);
    for (int i = 0; i < kPieces; ++i) benchmark::DoNotOptimize(mpAlloc(pool, kPieceSize));
    ARCP_DESTROY(pool);
}

[[gnu::noinline]] void monotonicRound() {
    std::pmr::monotonic_buffer_resource resource(64 * 1024);
    for (int i = 0; i < kPieces; ++i)
        benchmark::DoNotOptimize(resource.allocate(kPieceSize, alignof(std::max_align_t)));
    resource.release();
}

// Interleaved samples, so that machine noise hits all three alike.
void measure(benchmark::State& state) {
    mpPoolInit();
    double pool = 0, plain = 0, monotonic = 0;
    for (auto _ : state) {
        for (int i = 0; i < 7; ++i) {
            plain += nsPerPiece(mallocRound);
            pool += nsPerPiece(poolRound);
            monotonic += nsPerPiece(monotonicRound);
        }
    }
    state.counters["ratio_vs_malloc"] = pool / plain;
    state.counters["ratio_vs_monotonic"] = pool / monotonic;
    state.counters["pool_ns"] = pool / (7 * state.iterations());
    state.counters["malloc_ns"] = plain / (7 * state.iterations());
    state.counters["monotonic_ns"] = monotonic / (7 * state.iterations());
}

void BM_PoolPieces(benchmark::State& state) {
    measure(state);
}

void BM_PoolPiecesThreaded(benchmark::State& state) {
    std::thread([] {}).join();
    measure(state);
}

// In this order: once a thread has run, the process counts as threaded for good.
BENCHMARK(BM_PoolPieces)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PoolPiecesThreaded)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
