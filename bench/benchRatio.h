// Ratios of two ways of doing the same work, measured in the same process: samples of the two
// alternate, so that the load of a shared machine hits both alike, and the best sample of each
// counts (noise only ever adds time).
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>

namespace bench {

// Nanoseconds one call of work takes: the best of `samples` runs of `calls` calls.
template <typename Work>
double bestNs(Work& work, int calls) {
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; ++i) work();
    std::chrono::duration<double, std::nano> d = std::chrono::steady_clock::now() - start;
    return d.count() / calls;
}

// Time of `ours` over time of `base`, each call repeated `calls` times a sample.
template <typename Ours, typename Base>
double ratio(Ours ours, Base base, int calls, int samples = 7) {
    double bestOurs = 1e300, bestBase = 1e300;
    for (int s = 0; s < samples; ++s) {
        double b = bestNs(base, calls);
        double o = bestNs(ours, calls);
        if (b < bestBase) bestBase = b;
        if (o < bestOurs) bestOurs = o;
    }
    return bestOurs / bestBase;
}

}  // namespace bench
