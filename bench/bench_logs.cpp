// An error-log line (LogMsg) into a wrapping log against fprintf and fflush of the same bytes to
// a plain file. "ratio": the log's time over the plain file's. A wrapping log writes the line
// with its end marker behind it and then rewrites its header's next offset: two system calls
// where the plain file makes one, which bounds the ratio near 2.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "benchRatio.h"
#include "pisnp/dates.h"
#include "pisnp/logs.h"
#include "pisnp/messages.h"

namespace {

class Session {
  public:
    Session() {
        char pattern[] = "/tmp/bench_logs.XXXXXX";
        dir_ = mkdtemp(pattern);
        newNlsGlobalObject(nullptr, 1);
        char repository[] = "arcclientV3.cat";
        nlsReturnInfo_t info;
        std::string catalogs = std::getenv("ARC_DIR") != nullptr ? std::getenv("ARC_DIR") : ".";
        nlinit(repository, 10, catalogs.data(), ctCLBackup, 0, 0, 0, &info, nullptr);
        std::string name = dir_ + "/error.log";
        errorLogFile.InitializeLogFile(1 << 20, nullptr, 10000, 'D', 0, 0);
        errorLogFile.utOpenOutputFile(name.data());
        plain_ = std::fopen((dir_ + "/plain.log").c_str(), "w");
        nfDate now;
        dateLocal(&now);
        dateFmt(&now, date_, time_);
    }
    ~Session() {
        std::fclose(plain_);
        std::filesystem::remove_all(dir_);
    }
    void log() { LogMsg(text_); }
    void plain() {
        std::fprintf(plain_, "%s %s %s\n", date_, time_, text_);
        std::fflush(plain_);
        if (++count_ % 20000 == 0) std::rewind(plain_);
    }

  private:
    std::string dir_;
    std::FILE* plain_ = nullptr;
    char date_[16] = "";
    char time_[16] = "";
    char text_[80] = "ANS1234E An error line of typical length, with a few words more";
    long count_ = 0;
};

void BM_LogMsgVersusFprintf(benchmark::State& state) {
    Session s;
    for (auto _ : state) s.log();
    state.counters["ratio"] = bench::ratio([&] { s.log(); }, [&] { s.plain(); }, 2000);
}
BENCHMARK(BM_LogMsgVersusFprintf);

}  // namespace

BENCHMARK_MAIN();
