// A prefixed trace line into a bounded, wrapping trace file against fprintf + fflush of the
// same bytes (formatted by fprintf from the same pieces) to a plain file. Both write and flush
// every line. The pair benchmark times the two alternately in the same loop and reports "ratio"
// (trace time over plain time).
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "pisnp/trace.h"

namespace {

using Clock = std::chrono::steady_clock;

const char kText[] = "a trace line of typical length, value %d and some more words\n";

class Session {
  public:
    Session() {
        char pattern[] = "/tmp/bench_trace.XXXXXX";
        dir_ = mkdtemp(pattern);
        new_TraceObject(ctCLBackup, static_cast<unsigned long>(pthread_self()), nullptr);
        trSetMaxTraceSize(16);
        std::string classes = "GENERAL PID";
        trEnable(classes.data(), 1);
        std::string name = dir_ + "/trace.out";
        trBegin(name.data(), 0);  // a size option switches TIMESTAMP and PREFIX on
        plain_ = std::fopen((dir_ + "/plain.out").c_str(), "w");
        char date[16];
        char time[16];
        std::time_t now = std::time(nullptr);
        std::tm tm{};
        localtime_r(&now, &tm);
        std::strftime(date, sizeof date, "%m/%d/%Y", &tm);
        std::strftime(time, sizeof time, "%H:%M:%S", &tm);
        date_ = date;
        time_ = time;
        char line[256];
        std::snprintf(line, sizeof line, "%s %s.%03d [%.6u] : %-20s(%4u): ", date, time, 123,
                      static_cast<unsigned>(getpid()), "bench_trace.cpp", 42u);
        line_ = line;
        std::snprintf(line, sizeof line, kText, 12345);
        line_ += line;
    }
    ~Session() {
        std::fclose(plain_);
        trClose(0);
        delete_TraceObject();
        std::filesystem::remove_all(dir_);
    }
    void trace(int i) { trPrintf("bench_trace.cpp", 42, kText, i); }
    // The bytes of a trace line, formatted by fprintf from the same pieces.
    void plain(int i) {
        std::fprintf(plain_,
                     "%s %s.%03d [%.6u] : %-20s(%4u): a trace line of typical length, value %d and "
                     "some more words\n",
                     date_.c_str(), time_.c_str(), i % 1000, static_cast<unsigned>(getpid()),
                     "bench_trace.cpp", 42u, i);
        std::fflush(plain_);
        // A plain file that never wraps would grow without end: start over now and then, as
        // the trace file does.
        if (++count_ % 100000 == 0) std::rewind(plain_);
    }

    // The same bytes, formatted once beforehand: the floor of a flushed line.
    void preformatted() {
        std::fputs(line_.c_str(), plain_);
        std::fflush(plain_);
        if (++count_ % 100000 == 0) std::rewind(plain_);
    }

  private:
    std::string dir_;
    std::FILE* plain_ = nullptr;
    std::string date_;
    std::string time_;
    std::string line_;
    long count_ = 0;
};

void BM_TraceLineBoundedFile(benchmark::State& state) {
    Session s;
    int i = 0;
    for (auto _ : state) s.trace(++i);
}
BENCHMARK(BM_TraceLineBoundedFile);

void BM_FprintfFflushPlainFile(benchmark::State& state) {
    Session s;
    int i = 0;
    for (auto _ : state) s.plain(++i);
}
BENCHMARK(BM_FprintfFflushPlainFile);

void BM_TraceVersusFprintf(benchmark::State& state) {
    Session s;
    std::chrono::duration<double, std::nano> traced{};
    std::chrono::duration<double, std::nano> plain{};
    std::chrono::duration<double, std::nano> floor{};
    int i = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        s.trace(++i);
        auto t1 = Clock::now();
        s.plain(i);
        auto t2 = Clock::now();
        s.preformatted();
        auto t3 = Clock::now();
        traced += t1 - t0;
        plain += t2 - t1;
        floor += t3 - t2;
    }
    double n = static_cast<double>(state.iterations());
    state.counters["trace_ns"] = traced.count() / n;
    state.counters["fprintf_ns"] = plain.count() / n;
    state.counters["fputs_ns"] = floor.count() / n;
    state.counters["ratio"] = traced.count() / plain.count();
    // The trace file's header is rewritten with every line, a second system call that a plain
    // file does not need; this ratio shows what that costs against bytes formatted beforehand.
    state.counters["ratio_vs_fputs"] = traced.count() / floor.count();
}
BENCHMARK(BM_TraceVersusFprintf)->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
