// DString against std::string in the same run: appending 16 bytes many times ("ratio_vs_std":
// DString's time over std::string's), and copying and destroying a 1 KiB string, where a copy
// shares the text ("std_over_dstring": how many times std::string's copy takes DString's). The
// scaling benchmark appends 10 000 and 100 000 times and reports "scaling_10x": the time of ten
// times the appends over the time of the fewer (10 when linear).
#include <benchmark/benchmark.h>

#include <clocale>
#include <string>

#include "benchRatio.h"
#include "pisnp/dstring.h"

namespace {

const char kPiece[] = "0123456789abcdef";  // 16 bytes

// Both append a text that the compiler cannot see through, as callers do.
const char* piece() {
    const char* p = kPiece;
    benchmark::DoNotOptimize(p);
    return p;
}

[[gnu::noinline]] void appendDString(int times) {
    DString s;
    const char* p = piece();
    for (int i = 0; i < times; ++i) s.concat(p);
    benchmark::DoNotOptimize(s.getAsString());
}

[[gnu::noinline]] void appendStd(int times) {
    std::string s;
    const char* p = piece();
    for (int i = 0; i < times; ++i) s += p;
    benchmark::DoNotOptimize(s.data());
}

// The locale the library's host usually runs in.
struct Utf8 {
    Utf8() { std::setlocale(LC_ALL, "C.UTF-8"); }
    ~Utf8() { std::setlocale(LC_ALL, "C"); }
};

void BM_ConcatAppend(benchmark::State& state) {
    Utf8 locale;
    const int times = static_cast<int>(state.range(0));
    for (auto _ : state) appendDString(times);
    state.counters["ratio_vs_std"] =
        bench::ratio([times] { appendDString(times); }, [times] { appendStd(times); }, 3, 9);
}

void BM_ConcatScaling(benchmark::State& state) {
    Utf8 locale;
    for (auto _ : state) appendDString(10000);
    state.counters["scaling_10x"] =
        bench::ratio([] { appendDString(100000); }, [] { appendDString(10000); }, 1, 5);
}

void BM_CopyAndDestroy1KiB(benchmark::State& state) {
    Utf8 locale;
    const std::string text(1023, 'x');
    DString d(text.c_str());
    auto copyD = [&] {
        DString copy(d);
        benchmark::DoNotOptimize(&copy);
    };
    auto copyStd = [&] {
        std::string copy(text);
        benchmark::DoNotOptimize(copy.data());
    };
    for (auto _ : state) copyD();
    state.counters["std_over_dstring"] = bench::ratio(copyStd, copyD, 20000);
}

BENCHMARK(BM_ConcatAppend)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConcatScaling)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyAndDestroy1KiB);

}  // namespace

BENCHMARK_MAIN();
