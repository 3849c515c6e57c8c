// Ratios of two ways of doing the same work, measured in the same process: samples of the two
// alternate, so that the load of a shared machine hits both alike, each is timed by the CPU time
// of the thread (time spent waiting for a core does not count), and the best sample of each
// counts (noise only ever adds time).
#pragma once

#include <benchmark/benchmark.h>

#include <time.h>

namespace bench {

// Nanoseconds of CPU time one call of work takes, over `calls` calls.
inline double threadNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

template <typename Work>
double bestNs(Work& work, int calls) {
    double start = threadNs();
    for (int i = 0; i < calls; ++i) work();
    return (threadNs() - start) / calls;
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
