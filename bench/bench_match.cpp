// Wildcard matching against the C library's fnmatch on the same file names and patterns, in
// the same run and the same UTF-8 locale. The "ratio" counter is Match's time over fnmatch's,
// measured alternately on the thread's processor clock, so that both see the same machine load
// and waiting for a processor on a shared machine stays out.
#include <benchmark/benchmark.h>
#include <fnmatch.h>

#include <clocale>
#include <ctime>
#include <cstring>
#include <string>
#include <vector>

#include "pisnp/match.h"

namespace {

double cpuNs() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e9 + t.tv_nsec;
}

struct Case {
    std::string text;
    std::string pattern;
};

// Names as a directory listing holds them, against the patterns the client uses on them.
std::vector<Case> cases() {
    const char* names[] = {"core.12345",         "core",
                           "core.1234.gz",       "arcclientV3.cat",
                           "dsmerror.log",       "backup-2024-05-17T10:22:01.tar.gz",
                           "snapshot_vg01_home", "a-rather-long-file-name-without-any-dots-at-all",
                           "résumé-été.txt",     "trace.out.3"};
    const char* patterns[] = {"core.*",  "*.log",   "arc?????V3.cat", "*snap*", "*.tar.gz",
                              "*-*-*T*", "*é*.txt", "trace.out.?",    "*",      "*x*y*z*"};
    std::vector<Case> all;
    for (const char* n : names)
        for (const char* p : patterns) all.push_back({n, p});
    return all;
}

int ours(const Case& c) {
    return Match(c.text.data(), static_cast<int>(c.text.size()), c.pattern.data(),
                 static_cast<int>(c.pattern.size()), '*', '?', 0);
}

int theirs(const Case& c) {
    return fnmatch(c.pattern.c_str(), c.text.c_str(), 0) == 0 ? 1 : 0;
}

void useUtf8() {
    if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr) std::setlocale(LC_ALL, "C.utf8");
}

template <int (*matcher)(const Case&)>
void matchAll(benchmark::State& state) {
    useUtf8();
    std::vector<Case> all = cases();
    for (auto _ : state)
        for (const Case& c : all) benchmark::DoNotOptimize(matcher(c));
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(all.size()));
}
BENCHMARK(matchAll<ours>)->Name("BM_Match");
BENCHMARK(matchAll<theirs>)->Name("BM_fnmatch");

void BM_MatchOverFnmatch(benchmark::State& state) {
    useUtf8();
    std::vector<Case> all = cases();
    double a = 0, b = 0;
    for (auto _ : state) {
        double t0 = cpuNs();
        for (const Case& c : all) benchmark::DoNotOptimize(ours(c));
        double t1 = cpuNs();
        for (const Case& c : all) benchmark::DoNotOptimize(theirs(c));
        double t2 = cpuNs();
        a += t1 - t0;
        b += t2 - t1;
    }
    if (b > 0) state.counters["ratio"] = a / b;
}
BENCHMARK(BM_MatchOverFnmatch);

}  // namespace

BENCHMARK_MAIN();
