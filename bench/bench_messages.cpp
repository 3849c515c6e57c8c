// A cached message with two inserts, looked up and formatted by the message API, against the C
// library's catgets plus snprintf of the same entry. The API's counter "speedup_vs_catgets" is
// the baseline's time over its own, from interleaved samples of the same run.
#include <benchmark/benchmark.h>
#include <nl_types.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "pisnp/alloc.h"
#include "pisnp/messages.h"

namespace {

constexpr int kMsg = 1190;  // two string inserts
constexpr int kRounds = 20000;

// The build tree: the catalogs lie next to the library, one level above bench/.
std::string catalogDir() {
    if (const char* dir = std::getenv("ARC_DIR")) return dir;
    char exe[4096] = "";
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    std::string path(exe, n > 0 ? static_cast<size_t>(n) : 0);
    return path.substr(0, path.rfind("/bench/"));
}

nl_catd openBaseline() {
    static nl_catd cat = catopen((catalogDir() + "/EN_US/arcclientV3.cat").c_str(), NL_CAT_LOCALE);
    return cat;
}

bool startMessages() {
    static bool started = [] {
        newNlsGlobalObject(nullptr, 1);
        std::string dir = catalogDir();
        char repository[] = "arcclientV3.cat";
        nlsReturnInfo_t info;
        return nlinit(repository, 10, dir.data(), ctCLBackup, 0, 0, 0, &info, nullptr) == 0;
    }();
    return started;
}

[[gnu::noinline]] void baselineOnce() {
    const char* entry = catgets(openBaseline(), 1, kMsg, "");
    char text[512];
    // The entry's identifier and blank, then its printf body after the kind byte.
    int n = std::snprintf(text, sizeof text, "%.9s", entry);
    std::snprintf(text + n, sizeof text - n, entry + 10, "/var/log/link", "/var/log/target");
    benchmark::DoNotOptimize(text);
}

[[gnu::noinline]] void apiOnce() {
    char* out = nullptr;
    nlMessage(out, kMsg, "/var/log/link", "/var/log/target");
    benchmark::DoNotOptimize(out);
    arcFree(out, "bench", 1);
}

template <typename F>
double nsPer(F once) {
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i) once();
    std::chrono::duration<double, std::nano> d = std::chrono::steady_clock::now() - start;
    return d.count() / kRounds;
}

void BM_CatgetsSnprintf(benchmark::State& state) {
    if (openBaseline() == reinterpret_cast<nl_catd>(-1)) return state.SkipWithError("no catalog");
    for (auto _ : state) baselineOnce();
}

void BM_NlMessageCached(benchmark::State& state) {
    if (!startMessages()) return state.SkipWithError("the message system did not start");
    for (auto _ : state) apiOnce();
    double baseline = 0, api = 0;
    for (int i = 0; i < 5; ++i) {
        baseline += nsPer(baselineOnce);
        api += nsPer(apiOnce);
    }
    state.counters["speedup_vs_catgets"] = baseline / api;
    state.counters["catgets_ns"] = baseline / 5;
    state.counters["api_ns"] = api / 5;
}

BENCHMARK(BM_CatgetsSnprintf);
BENCHMARK(BM_NlMessageCached);

}  // namespace

BENCHMARK_MAIN();
