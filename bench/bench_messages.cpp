// A cached message with two inserts, looked up and formatted by the message API, against the C
// library's catgets plus snprintf of the same entry: the identifier and blank copied, then the
// printf body after the kind byte formatted with the same inserts, which is what one snprintf of
// an entry without a kind byte costs. Both sides produce the same finished text, checked before
// timing; the API also takes its lock and hands the caller a block to free, the baseline neither.
// "speedup_vs_catgets" is the baseline's time over the API's: the median of interleaved pairs of
// samples of the same run, each timed in the thread's CPU time, because the machine is shared
// and time spent in other processes belongs to neither side. "speedup_vs_two_snprintf" is the
// same against a baseline that formats the identifier with a second snprintf instead.
#include <benchmark/benchmark.h>
#include <nl_types.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

constexpr char kLink[] = "/var/log/link";
constexpr char kTarget[] = "/var/log/target";

// The entry's identifier and blank, then its printf body, which follows the kind byte.
void catgetsText(char (&text)[512]) {
    const char* entry = catgets(openBaseline(), 1, kMsg, "");
    std::memcpy(text, entry, 9);
    std::snprintf(text + 9, sizeof text - 9, entry + 10, kLink, kTarget);
}

[[gnu::noinline]] void baselineOnce() {
    char text[512];
    catgetsText(text);
    benchmark::DoNotOptimize(text);
}

[[gnu::noinline]] void twoSnprintfOnce() {
    const char* entry = catgets(openBaseline(), 1, kMsg, "");
    char text[512];
    int n = std::snprintf(text, sizeof text, "%.9s", entry);
    std::snprintf(text + n, sizeof text - n, entry + 10, kLink, kTarget);
    benchmark::DoNotOptimize(text);
}

[[gnu::noinline]] void apiOnce() {
    char* out = nullptr;
    nlMessage(out, kMsg, kLink, kTarget);
    benchmark::DoNotOptimize(out);
    arcFree(out, "bench", 1);
}

// Whether both sides compose the very same text.
bool sameText() {
    if (std::strlen(catgets(openBaseline(), 1, kMsg, "")) < 10) return false;
    char text[512];
    catgetsText(text);
    char* out = nullptr;
    nlMessage(out, kMsg, kLink, kTarget);
    bool same = out != nullptr && std::strcmp(out, text) == 0;
    arcFree(out, "bench", 2);
    return same;
}

double cpuNs() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

template <typename F>
double nsPer(F once) {
    double start = cpuNs();
    for (int i = 0; i < kRounds; ++i) once();
    return (cpuNs() - start) / kRounds;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void BM_CatgetsSnprintf(benchmark::State& state) {
    if (openBaseline() == reinterpret_cast<nl_catd>(-1)) return state.SkipWithError("no catalog");
    for (auto _ : state) baselineOnce();
}

void BM_NlMessageCached(benchmark::State& state) {
    if (!startMessages()) return state.SkipWithError("the message system did not start");
    if (!sameText()) return state.SkipWithError("the two sides compose different texts");
    for (auto _ : state) apiOnce();
    constexpr int kSamples = 9;
    std::vector<double> baseline, two, api, ratio, ratioTwo;
    for (int i = 0; i < kSamples; ++i) {
        baseline.push_back(nsPer(baselineOnce));
        api.push_back(nsPer(apiOnce));
        two.push_back(nsPer(twoSnprintfOnce));
        ratio.push_back(baseline.back() / api.back());
        ratioTwo.push_back(two.back() / api.back());
    }
    state.counters["speedup_vs_catgets"] = median(ratio);
    state.counters["speedup_vs_two_snprintf"] = median(ratioTwo);
    state.counters["catgets_ns"] = median(baseline);
    state.counters["api_ns"] = median(api);
}

BENCHMARK(BM_CatgetsSnprintf);
BENCHMARK(BM_NlMessageCached);

}  // namespace

BENCHMARK_MAIN();
