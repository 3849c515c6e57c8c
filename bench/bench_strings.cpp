// The string functions on 4 KiB ASCII texts against the C library's own in the same run, in the
// C locale and in C.UTF-8. Each benchmark times the library's function and reports
// "ratio_vs_libc": its time over the C library function's time for the same call.
#include <benchmark/benchmark.h>
#include <strings.h>

#include <clocale>
#include <cstring>
#include <random>
#include <string>

#include "benchRatio.h"
#include "pisnp/strings.h"

namespace {

constexpr size_t kTextLen = 4095;  // 4 KiB with the terminator

struct Texts {
    std::string a;       // letters, digits and blanks
    std::string folded;  // a with the case of about half its letters turned
    std::string copy;    // a, in a block of its own
    std::string dest;    // room for a copy
    Texts() : dest(kTextLen + 1, '\0') {
        std::mt19937 rng(7);
        const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789  ";
        for (size_t i = 0; i < kTextLen; ++i) a += alphabet[rng() % (sizeof alphabet - 1)];
        folded = a;
        for (char& c : folded) {
            if ((rng() & 1) != 0 && std::isalpha(static_cast<unsigned char>(c))) c ^= 0x20;
        }
        copy = a;
    }
};

const Texts& texts() {
    static const Texts t;
    return t;
}

// The locale named by the benchmark's argument: 0 the C locale, 1 C.UTF-8.
bool enterLocale(benchmark::State& state) {
    const char* name = state.range(0) == 0 ? "C" : "C.UTF-8";
    if (std::setlocale(LC_ALL, name) == nullptr) {
        state.SkipWithError("locale not installed");
        return false;
    }
    state.SetLabel(name);
    return true;
}

template <typename Ours, typename Base>
void run(benchmark::State& state, Ours ours, Base base) {
    if (!enterLocale(state)) return;
    for (auto _ : state) ours();
    state.counters["ratio_vs_libc"] = bench::ratio(ours, base, 100);
    std::setlocale(LC_ALL, "C");
}

void BM_StriCmp(benchmark::State& state) {
    const Texts& t = texts();
    run(
        state, [&] { benchmark::DoNotOptimize(StriCmp(t.a.c_str(), t.folded.c_str())); },
        [&] { benchmark::DoNotOptimize(strcasecmp(t.a.c_str(), t.folded.c_str())); });
}

void BM_StrChrMissing(benchmark::State& state) {
    const Texts& t = texts();
    run(
        state, [&] { benchmark::DoNotOptimize(StrChr(t.a.c_str(), '#')); },
        [&] { benchmark::DoNotOptimize(std::strchr(t.a.c_str(), '#')); });
}

void BM_StrCpy(benchmark::State& state) {
    Texts& t = const_cast<Texts&>(texts());
    run(
        state, [&] { benchmark::DoNotOptimize(StrCpy(t.dest.data(), t.a.c_str())); },
        [&] { benchmark::DoNotOptimize(std::strcpy(t.dest.data(), t.a.c_str())); });
}

void BM_StrLen(benchmark::State& state) {
    const Texts& t = texts();
    run(
        state, [&] { benchmark::DoNotOptimize(StrLen(t.a.c_str())); },
        [&] { benchmark::DoNotOptimize(std::strlen(t.a.c_str())); });
}

void BM_StrCmp(benchmark::State& state) {
    const Texts& t = texts();
    run(
        state, [&] { benchmark::DoNotOptimize(StrCmp(t.a.c_str(), t.copy.c_str())); },
        [&] { benchmark::DoNotOptimize(std::strcmp(t.a.c_str(), t.copy.c_str())); });
}

void BM_StrStrMissing(benchmark::State& state) {
    const Texts& t = texts();
    run(
        state, [&] { benchmark::DoNotOptimize(StrStr(t.a.c_str(), "#x")); },
        [&] { benchmark::DoNotOptimize(std::strstr(t.a.c_str(), "#x")); });
}

BENCHMARK(BM_StriCmp)->Arg(0)->Arg(1);
BENCHMARK(BM_StrChrMissing)->Arg(0)->Arg(1);
BENCHMARK(BM_StrCpy)->Arg(1);
BENCHMARK(BM_StrLen)->Arg(1);
BENCHMARK(BM_StrCmp)->Arg(1);
BENCHMARK(BM_StrStrMissing)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
