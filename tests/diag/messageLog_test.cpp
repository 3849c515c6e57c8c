#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/sysCalls.h"
#include "diag/logTestSupport.h"
#include "mem/checkedAlloc.h"
#include "nls/nlsInternal.h"
#include "pisnp/globalRC.h"
#include "support/allocTracker.h"
#include "support/fakeClock.h"

namespace {

using namespace log_test;

// The process's logs, opened in a private directory for one test and closed after it.
class MessageLogTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(pisnp_test::startMessages()); }
    void TearDown() override {
        for (DLogFile* log : {&errorLogFile, &schedLogFile, static_cast<DLogFile*>(&auditLogFile)})
            log->InitializeLogFile(0, nullptr, 10000, 'D', 0, 0);
        ScheduleMode = 0;
        TEST_SYNCAUDITLOG.on = 0;
        gNlsObject.schedLineStart = 1;
    }
    std::string open(DLogFile& log, const char* name, unsigned maxSize = 0) {
        std::string path = dir_.file(name);
        log.InitializeLogFile(maxSize, nullptr, 10000, 'D', 0, 0);
        EXPECT_NE(log.utOpenOutputFile(path.data()), nullptr);
        return path;
    }
    // The text behind the date and time stamp of a line.
    static std::string unstamped(const std::string& line) {
        std::string stamp = datedLine(0, "");
        return line.size() >= stamp.size() - 1 ? line.substr(stamp.size() - 1) : "";
    }
    TempDir dir_;
};

TEST_F(MessageLogTest, ErrorLogLinesEndInExactlyOneNewline) {
    std::string path = open(errorLogFile, "error.log");
    char plain[] = "first", ended[] = "second\n";
    std::string stamp = datedLine(0, "");
    EXPECT_EQ(LogMsg(plain), static_cast<int>(stamp.size() - 1 + 5));
    EXPECT_EQ(LogMsg(ended), static_cast<int>(stamp.size() - 1 + 7));
    wchar_t wide[] = L"third";
    LogMsg(wide);
    auto lines = splitLines(readFile(path));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(unstamped(lines[0]), "first");
    EXPECT_EQ(unstamped(lines[1]), "second");
    EXPECT_EQ(unstamped(lines[2]), "third");
    EXPECT_EQ(readFile(path).back(), '\n');

    SetMsgLoggingMode(0);
    EXPECT_EQ(LogMsg(plain), 0);
    EXPECT_EQ(splitLines(readFile(path)).size(), 3u);
    SetMsgLoggingMode(1);
    EXPECT_EQ(LogMsg(static_cast<char*>(nullptr)), PISNP_RC_INVALID_ARG);
}

TEST_F(MessageLogTest, OnlyWarningsAndWorseAreLogged) {
    std::string path = open(errorLogFile, "error.log");
    char* out = nullptr;
    char name[] = "the-path";
    // 1528 is informational (4), 1190 a warning (5).
    EXPECT_GT(nlLogsprintf(out, 1528, name), 0);
    ASSERT_NE(out, nullptr);
    arcFree(out, __FILE_NAME__, __LINE__);
    EXPECT_EQ(readFile(path), "");
    nlLogMessage(out, 1190, name, name);
    ASSERT_NE(out, nullptr);
    auto lines = splitLines(readFile(path));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(unstamped(lines[0]) + "\n", out);
    arcFree(out, __FILE_NAME__, __LINE__);

    // The system-log route raises the code even when it is off, and logs as the others do.
    GlobalRC rc;
    gRC = &rc;
    EXPECT_EQ(psLogNlsMsg(1190, 1, 0, name, name), -1);
    EXPECT_EQ(rc.get(), 8);
    EXPECT_EQ(psLogNlsMsg(1190, 1, 1, name, name), 0);
    EXPECT_EQ(splitLines(readFile(path)).size(), 2u);
    EXPECT_EQ(psLogNlsMsg(4711, 1, 1), -1) << "no such message";
    gRC = nullptr;
}

TEST_F(MessageLogTest, ScheduleTextsMakeOneStampedLinePerLine) {
    std::string path = open(schedLogFile, "sched.log");
    char a[] = "begun, ", b[] = "ended\n", c[] = "next\n";
    LogSchedMsg(a);
    LogSchedMsg(b);
    LogSchedMsg(c);
    auto lines = splitLines(readFile(path));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(unstamped(lines[0]), "begun, ended");
    EXPECT_EQ(unstamped(lines[1]), "next");

    // Message output reaches the schedule log only in schedule mode.
    char name[] = "p";
    nlprintf(1528, name);
    EXPECT_EQ(splitLines(readFile(path)).size(), 2u);
    ScheduleMode = 1;
    nlprintf(1528, name);
    EXPECT_EQ(splitLines(readFile(path)).size(), 3u);
}

unsigned short logEvent(eventLog_t* ev, char* buf, unsigned short avail, int count, ...) {
    va_list args;
    va_start(args, count);
    unsigned short n = nlLogPrintf(ev, buf, avail, reinterpret_cast<char*>(args));
    va_end(args);
    return n;
}

TEST_F(MessageLogTest, EventMessagesGoWhereTheirFlagsSay) {
    std::string path = open(errorLogFile, "error.log");
    char buf[512];
    char name[] = "volume";
    eventLog_t ev{1528, 0, 0, 0, 0x04};
    unsigned short n = logEvent(&ev, buf, sizeof buf, 1, name);
    ASSERT_GT(n, 0);
    EXPECT_EQ(ev.msgLen, n);
    EXPECT_NE(std::string(buf, n).find("volume"), std::string::npos);
    auto lines = splitLines(readFile(path));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(unstamped(lines[0]) + "\n", std::string(buf, n));
    // Too little room: nothing added, nothing logged.
    EXPECT_EQ(logEvent(&ev, buf, 10, 1, name), 0);
    EXPECT_EQ(splitLines(readFile(path)).size(), 1u);
}

TEST_F(MessageLogTest, AuditLinesAndAuditFailures) {
    std::string errors = open(errorLogFile, "error.log");
    std::string path = open(auditLogFile, "audit.log");
    char text[] = "audited\n";
    EXPECT_EQ(LogAuditMsg(text), 0);
    EXPECT_STREQ(text, "audited\n");
    auto lines = splitLines(readFile(path));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(unstamped(lines[0]), "audited");
    {
        pisnp::sys::Override<decltype(pisnp::sys::Table::fwrite)> full(
            &pisnp::sys::Table::fwrite, [](const void* p, size_t s, size_t n, FILE* f) -> size_t {
                if (f != auditLogFile.file) return pisnp::sys::real().fwrite(p, s, n, f);
                errno = ENOSPC;
                return 0;
            });
        EXPECT_EQ(LogAuditMsg(text), 0);
    }
    EXPECT_EQ(auditLogFile.loggingEnabled, 0u);
    EXPECT_EQ(auditLogFile.lastErrno, static_cast<unsigned>(ENOSPC));
    EXPECT_EQ(splitLines(readFile(path)).size(), 1u);
    EXPECT_NE(readFile(errors).find("ANS2046E"), std::string::npos);
    LogAuditMsg(text);
    EXPECT_EQ(splitLines(readFile(path)).size(), 1u);
}

TEST_F(MessageLogTest, AuditWritersOfTwoProcessesShareTheLogWhole) {
    // Made before the writers start, as a host opens its logs before it logs.
    std::string path = open(auditLogFile, "audit.log", 1 << 20);
    constexpr int kLines = 400;
    std::vector<pid_t> children;
    for (int p = 0; p < 2; ++p) {
        pid_t child = fork();
        if (child == 0) {
            pisnp_test::FakeClock clock;  // a lock held by the other process is retried at once
            TEST_SYNCAUDITLOG.on = 1;
            auditLogFile.InitializeLogFile(1 << 20, nullptr, 10000, 'D', 0, 0);
            if (auditLogFile.utOpenOutputFile(path.data()) == nullptr) _exit(2);
            for (int i = 0; i < kLines; ++i) {
                std::string line = "writer " + std::to_string(p) + " line " + std::to_string(i);
                LogAuditMsg(line.data());
            }
            _exit(auditLogFile.loggingEnabled == 1 ? 0 : 3);
        }
        children.push_back(child);
    }
    for (pid_t c : children) {
        int status = 0;
        waitpid(c, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    std::set<std::string> seen;
    for (auto& l : wrappedLines(readFile(path), "writer ")) seen.insert(unstamped(l));
    EXPECT_EQ(seen.size(), 2u * kLines);
    for (int p = 0; p < 2; ++p)
        for (int i = 0; i < kLines; ++i)
            EXPECT_TRUE(seen.count("writer " + std::to_string(p) + " line " + std::to_string(i)));
}

TEST_F(MessageLogTest, ErrorLogThreadStressKeepsEveryLineWhole) {
    std::string path = open(errorLogFile, "error.log", 64 * 1024);
    constexpr int kThreads = 6, kLines = 150;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) {
                std::string text = "thread " + std::to_string(t) + " line " + std::to_string(i);
                LogMsg(text.data());
            }
        });
    for (auto& th : threads) th.join();
    std::string content = readFile(path);
    EXPECT_LE(content.size(), 64u * 1024);
    std::vector<int> last(kThreads, -1);
    size_t count = 0;
    for (auto& l : wrappedLines(content, "thread ")) {
        int t = -1, i = -1;
        ASSERT_EQ(std::sscanf(unstamped(l).c_str(), "thread %d line %d", &t, &i), 2) << l;
        ASSERT_TRUE(t >= 0 && t < kThreads);
        EXPECT_GT(i, last[t]);  // each thread's lines stay in order
        last[t] = i;
        ++count;
    }
    EXPECT_GT(count, 500u);
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(last[t], kLines - 1);
}

TEST_F(MessageLogTest, MemoryShortagesLeakNothingAndWriteNothingHalf) {
    std::string path = open(errorLogFile, "error.log", 8192);
    std::string audit = open(auditLogFile, "audit.log", 8192);
    std::string longText(3000, 'x');
    char name[] = "n";
    char* warm = nullptr;
    nlLogMessage(warm, 1190, name, name);  // caches the record
    arcFree(warm, __FILE_NAME__, __LINE__);
    pisnp_test::sweepAllocationFailures(
        [&] {
            int rc = LogMsg(longText.data());
            char* out = nullptr;
            nlLogsprintf(out, 1190, name, name);
            if (out != nullptr) arcFree(out, __FILE_NAME__, __LINE__);
            LogAuditMsg(longText.data());
            return rc;
        },
        [&](int rc, bool, pisnp_test::AllocTracker& t) {
            EXPECT_TRUE(rc == PISNP_RC_LOG_WRITE_FAILED || rc > 3000) << rc;
            EXPECT_EQ(t.live(), 0u);
        });
    for (auto& p : {path, audit})
        for (auto& l : wrappedLines(readFile(p), "xxx")) EXPECT_EQ(unstamped(l), longText);
    EXPECT_EQ(auditLogFile.loggingEnabled, 1u);
}

}  // namespace
