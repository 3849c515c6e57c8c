// Cost of running a command through psCmdExecute against the C library's system(), both through
// "/bin/sh -c", in the same run, from a process holding 1 MiB, 512 MiB and 2 GiB of touched
// memory: a backup client is a large process, and starting a command must not cost more for it.
// The "ratio" counter is the median of psCmdExecute's time over system()'s, measured alternately
// so that both see the same machine load.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "mem/checkedAlloc.h"
#include "pisnp/processes.h"

namespace {

using Clock = std::chrono::steady_clock;

char kTrue[] = "true";

double median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

// The process's memory for one size: allocated and touched page by page, kept until the next.
void holdMemory(size_t bytes) {
    static std::vector<char> held;
    held = std::vector<char>();
    held.resize(bytes);
    for (size_t i = 0; i < bytes; i += 4096) held[i] = 1;
    benchmark::DoNotOptimize(held.data());
}

void BM_psCmdExecuteOverSystem(benchmark::State& state) {
    holdMemory(static_cast<size_t>(state.range(0)) << 20);
    std::vector<double> ratios;
    double ours = 0, theirs = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        benchmark::DoNotOptimize(psCmdExecute(kTrue, 1, nullptr, 0));
        auto t1 = Clock::now();
        benchmark::DoNotOptimize(std::system(kTrue));
        auto t2 = Clock::now();
        double a = std::chrono::duration<double, std::micro>(t1 - t0).count();
        double b = std::chrono::duration<double, std::micro>(t2 - t1).count();
        ours += a;
        theirs += b;
        ratios.push_back(a / b);
    }
    state.counters["ratio"] = median(ratios);
    state.counters["psCmdExecute_us"] = ours / static_cast<double>(ratios.size());
    state.counters["system_us"] = theirs / static_cast<double>(ratios.size());
}
BENCHMARK(BM_psCmdExecuteOverSystem)
    ->ArgName("MiB")
    ->Arg(1)
    ->Arg(512)
    ->Arg(2048)
    ->Iterations(200)
    ->Unit(benchmark::kMicrosecond);

// What the snapshot provider pays: the error stream captured through a file.
void BM_psCmdExecuteCaptured(benchmark::State& state) {
    for (auto _ : state) {
        char* out = nullptr;
        benchmark::DoNotOptimize(psCmdExecute(kTrue, 1, &out, 0));
        if (out != nullptr) ARC_FREE(out);
    }
}
BENCHMARK(BM_psCmdExecuteCaptured)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
