// Writers racing a reset: several threads trace into a small bounded, segmented file while
// another thread resets the trace and begins it again. A segment switch takes the wrap lock and
// then the object lock; reset and begin must not take them the other way round.
#include <atomic>
#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "traceTestSupport.h"

namespace {

using trace_test::headerOffset;
using trace_test::readFile;

void beginSegmented(const std::string& base) {
    trSetMaxTraceSize(2);
    trSetMaxTraceSegSize(1);
    std::string classes = "GENERAL TID";
    trEnable(classes.data(), 1);
    std::string name = base;
    ASSERT_EQ(trBegin(name.data(), 1), 0);
}

TEST(TraceStress, ConcurrentWritersResetAndSegmentSwitches) {
    trace_test::TempDir dir;
    new_TraceObject(ctCLBackup, static_cast<unsigned long>(pthread_self()), trace_test::tidProc);
    std::string base = dir.file("stress.out");
    beginSegmented(base);

    const std::string payload(1500, 'p');
    std::atomic<bool> stop{false};
    std::atomic<long> lines{0};
    std::vector<std::thread> writers;
    for (int id = 0; id < 4; ++id) {
        writers.emplace_back([&, id] {
            for (long n = 0; !stop.load(); ++n) {
                trPrintf("stress.cpp", 1, "writer %d line %ld %s#\n", id, n, payload.c_str());
                lines.fetch_add(1);
            }
        });
    }
    std::thread resetter([&] {
        for (int round = 0; round < 15; ++round) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            trReset(1);
            beginSegmented(base);
        }
    });
    resetter.join();
    // Let the writers run through a few more segment switches after the last begin.
    long seen = lines.load();
    while (lines.load() < seen + 2000) std::this_thread::yield();
    stop.store(true);
    for (std::thread& w : writers) w.join();
    trClose(0);
    delete_TraceObject();

    std::regex whole("writer \\d line \\d+ p{1500}#");
    for (const char* suffix : {".1", ".2"}) {
        std::string content = readFile(base + suffix);
        ASSERT_FALSE(content.empty()) << suffix;
        std::string atOffset = content.substr(headerOffset(content), 40);
        EXPECT_TRUE(atOffset.rfind("\nEND OF DATA", 0) == 0 ||
                    atOffset.rfind("\nContinued at beginning of segment ", 0) == 0)
            << suffix << ": " << atOffset;
        // Lines are never interleaved or cut.
        size_t start = 0;
        int checked = 0;
        for (size_t end; (end = content.find('\n', start)) != std::string::npos; start = end + 1) {
            size_t at = content.find("writer ", start);
            if (at < end) {
                ASSERT_TRUE(std::regex_match(content.begin() + static_cast<long>(at),
                                             content.begin() + static_cast<long>(end), whole))
                    << suffix << ": " << content.substr(at, 80);
                ++checked;
            }
        }
        EXPECT_GT(checked, 0) << suffix;
    }
}

}  // namespace
