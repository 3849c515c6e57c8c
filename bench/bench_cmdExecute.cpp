// Cost of running a command through psCmdExecute against the C library's system(), both
// through "/bin/sh -c", in the same run. The "ratio" counter is psCmdExecute's time over
// system()'s, measured alternately so that both see the same machine load.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>

#include "mem/checkedAlloc.h"
#include "pisnp/processes.h"

namespace {

using Clock = std::chrono::steady_clock;

char kTrue[] = "true";

void BM_psCmdExecute(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(psCmdExecute(kTrue, 1, nullptr, 0));
}
BENCHMARK(BM_psCmdExecute)->Unit(benchmark::kMicrosecond);

void BM_system(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(std::system(kTrue));
}
BENCHMARK(BM_system)->Unit(benchmark::kMicrosecond);

// What the snapshot provider pays: the error stream captured through a file.
void BM_psCmdExecuteCaptured(benchmark::State& state) {
    for (auto _ : state) {
        char* out = nullptr;
        benchmark::DoNotOptimize(psCmdExecute(kTrue, 1, &out, 0));
        if (out != nullptr) ARC_FREE(out);
    }
}
BENCHMARK(BM_psCmdExecuteCaptured)->Unit(benchmark::kMicrosecond);

void BM_psCmdExecuteOverSystem(benchmark::State& state) {
    Clock::duration ours{}, theirs{};
    for (auto _ : state) {
        auto t0 = Clock::now();
        benchmark::DoNotOptimize(psCmdExecute(kTrue, 1, nullptr, 0));
        auto t1 = Clock::now();
        benchmark::DoNotOptimize(std::system(kTrue));
        auto t2 = Clock::now();
        ours += t1 - t0;
        theirs += t2 - t1;
    }
    if (theirs.count() > 0) {
        state.counters["ratio"] = static_cast<double>(ours.count()) / theirs.count();
    }
}
BENCHMARK(BM_psCmdExecuteOverSystem)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
