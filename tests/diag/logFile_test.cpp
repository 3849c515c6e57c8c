#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "base/sysCalls.h"
#include "diag/logTestSupport.h"
#include "support/allocTracker.h"

namespace {

using namespace log_test;

class LogFileTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(pisnp_test::startMessages()); }
    void TearDown() override { close(); }

    FILE* open(unsigned maxSize, unsigned retention = 10000, const char* save = nullptr) {
        close();
        save_ = save != nullptr ? save : "";
        log_.InitializeLogFile(maxSize, save != nullptr ? save_.data() : nullptr, retention,
                               save != nullptr ? 'S' : 'D', 0, 0);
        return log_.utOpenOutputFile(path_.data());
    }
    void close() {
        if (log_.file != nullptr) std::fclose(log_.file);
        log_.file = nullptr;
    }
    void write(const std::string& line) {
        ASSERT_EQ(logfile::writeLine(log_, line.data(), line.size()), 0);
    }
    // Writes lines first..last tagged "n=" and checks that the file never passes the maximum.
    void fill(long first, long last) {
        for (long i = first; i <= last; ++i) {
            write(datedLine(0, "n=" + std::to_string(i) + " some text"));
            if (log_.maxSize != 0) {
                ASSERT_LE(std::filesystem::file_size(path_), log_.maxSize);
            }
        }
    }
    std::string content() const { return readFile(path_); }
    std::vector<std::string> plainLines(const std::string& p) const {
        std::vector<std::string> out;
        for (auto& l : splitLines(readFile(p)))
            if (l.find("n=") != std::string::npos) out.push_back(l);
        return out;
    }

    TempDir dir_;
    std::string path_ = dir_.file("sub/dir/error.log");
    std::string save_;
    DLogFile log_;
};

TEST_F(LogFileTest, WrappingLogNeverPassesItsMaximumAndReadsBackInOrder) {
    ASSERT_NE(open(4096), nullptr);
    EXPECT_EQ(log_.wrapping, 1u);
    fill(1, 600);
    std::string c = content();
    ASSERT_EQ(c.size(), 4096u);
    EXPECT_EQ(c.substr(c.size() - 2), "*\n");
    EXPECT_NE(c.find("----- CONTINUED -----"), std::string::npos);
    EXPECT_EQ(c.compare(0, 13, "LOGHEADERREC "), 0);
    expectConsecutive(wrappedLines(c, "n="), "n=", 600);
    EXPECT_GT(wrappedLines(c, "n=").size(), 30u);

    // Just after a wrap the next line goes behind the header's first line.
    for (long i = 601;; ++i) {
        size_t before = std::strtoul(content().substr(13, 12).c_str(), nullptr, 10);
        fill(i, i);
        size_t after = std::strtoul(content().substr(13, 12).c_str(), nullptr, 10);
        if (after < before) {
            EXPECT_EQ(after - datedLine(0, "n=" + std::to_string(i) + " some text").size(),
                      content().find('\n') + 1);
            break;
        }
    }
}

TEST_F(LogFileTest, ChangingTheMaximumKeepsTheNewestLines) {
    ASSERT_NE(open(8192), nullptr);
    fill(1, 700);
    close();
    // Raised: only the size field changes.
    std::string before = content();
    ASSERT_NE(open(16384), nullptr);
    std::string after = content();
    ASSERT_EQ(before.size(), after.size());
    EXPECT_EQ(after.substr(25, 10), "16384     ");
    EXPECT_EQ(before.substr(0, 25), after.substr(0, 25));
    EXPECT_EQ(before.substr(35), after.substr(35));
    close();
    // Lowered below a full file: the newest lines, in order, under a fresh header.
    ASSERT_NE(open(2048), nullptr);
    EXPECT_LE(content().size(), 2048u);
    EXPECT_EQ(content().substr(25, 10), "2048      ");
    auto kept = wrappedLines(content(), "n=");
    expectConsecutive(kept, "n=", 700);
    EXPECT_GT(kept.size(), 10u);
    fill(701, 800);
    expectConsecutive(wrappedLines(content(), "n="), "n=", 800);
}

TEST_F(LogFileTest, ConvertingBetweenFormsLosesNoLine) {
    ASSERT_NE(open(8192), nullptr);
    fill(1, 400);
    auto wrapped = wrappedLines(content(), "n=");
    close();
    // Wrapping to plain: oldest first, and at least every whole line the wrapping log held.
    ASSERT_NE(open(0), nullptr);
    EXPECT_EQ(log_.wrapping, 0u);
    auto plain = plainLines(path_);
    expectConsecutive(plain, "n=", 400);
    EXPECT_GE(plain.size(), wrapped.size());
    fill(401, 410);
    plain = plainLines(path_);
    close();
    // Plain to wrapping: every line moves to the save file; the log starts empty.
    ASSERT_NE(open(4096, 10000, "saved.log"), nullptr);
    EXPECT_EQ(plainLines(dir_.file("sub/dir/saved.log")), plain);
    EXPECT_TRUE(wrappedLines(content(), "n=").empty());
    EXPECT_NE(content().find("END OF DATA"), std::string::npos);
}

TEST_F(LogFileTest, PruningKeepsExactlyTheYoungerLines) {
    std::string all;
    for (int days = 20; days >= 0; --days) all += datedLine(days, "n=" + std::to_string(20 - days));
    auto writeLog = [&] {
        std::filesystem::create_directories(dir_.file("sub/dir"));
        FILE* f = std::fopen(path_.c_str(), "w");
        std::fputs(all.c_str(), f);
        std::fclose(f);
        std::filesystem::remove(dir_.file("sub/dir/pruned.log"));
    };
    writeLog();
    ASSERT_NE(open(0, 10000, "pruned.log"), nullptr);
    EXPECT_EQ(content(), all);
    writeLog();
    ASSERT_NE(open(0, 5, "elsewhere/pruned.log"), nullptr);
    auto kept = plainLines(path_);
    auto saved = plainLines(dir_.file("sub/dir/pruned.log"));
    ASSERT_EQ(kept.size(), 5u);
    expectConsecutive(kept, "n=", 20);
    expectConsecutive(saved, "n=", 15);
    EXPECT_EQ(readFile(dir_.file("sub/dir/pruned.log")) + content(), all);
    writeLog();
    ASSERT_NE(open(0, 0, "pruned.log"), nullptr);
    EXPECT_EQ(content(), "");
    EXPECT_EQ(readFile(dir_.file("sub/dir/pruned.log")), all);
}

TEST_F(LogFileTest, AnInterruptedPruneLeavesOneWholeLog) {
    std::string all;
    for (int days = 9; days >= 0; --days) all += datedLine(days, "n=" + std::to_string(days));
    std::filesystem::create_directories(dir_.file("sub/dir"));
    auto writeLog = [&] {
        FILE* f = std::fopen(path_.c_str(), "w");
        std::fputs(all.c_str(), f);
        std::fclose(f);
        chmod(path_.c_str(), 0640);
    };
    writeLog();
    {
        pisnp::sys::Override<decltype(pisnp::sys::Table::rename)> failRename(
            &pisnp::sys::Table::rename, [](const char*, const char*) {
                errno = EIO;
                return -1;
            });
        ASSERT_NE(open(0, 3), nullptr);
    }
    EXPECT_EQ(log_.pruneFailed, 1u);
    EXPECT_EQ(content(), all);
    std::string temp = dir_.file("sub/dir/arcprune" + std::to_string(getpid()) + ".log");
    EXPECT_FALSE(std::filesystem::exists(temp));
    close();

    // A process that dies just before or just after the rename.
    for (bool afterRename : {false, true}) {
        writeLog();
        pid_t child = fork();
        if (child == 0) {
            static bool after;
            after = afterRename;
            pisnp::sys::Override<decltype(pisnp::sys::Table::rename)> die(
                &pisnp::sys::Table::rename, [](const char* from, const char* to) {
                    if (after) pisnp::sys::real().rename(from, to);
                    _exit(0);
                    return 0;
                });
            open(0, 3);
            _exit(1);
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        std::string c = content();
        if (afterRename) {
            EXPECT_EQ(c, all.substr(all.size() - 3 * datedLine(0, "n=0").size()));
            struct stat st;
            stat(path_.c_str(), &st);
            EXPECT_EQ(st.st_mode & 0777, 0640u);
        } else {
            EXPECT_EQ(c, all);
        }
    }
    // The temporary file the dead process left is replaced by the next prune.
    writeLog();
    ASSERT_NE(open(0, 3), nullptr);
    EXPECT_EQ(plainLines(path_).size(), 3u);
}

TEST_F(LogFileTest, SymbolicLinkOrUnwritablePathIsNeverOpened) {
    std::filesystem::create_directories(dir_.file("sub/dir"));
    std::string target = dir_.file("target");
    FILE* t = std::fopen(target.c_str(), "w");
    std::fputs("keep\n", t);
    std::fclose(t);
    ASSERT_EQ(symlink(target.c_str(), path_.c_str()), 0);
    EXPECT_EQ(open(4096), nullptr);
    EXPECT_EQ(log_.lastErrno, static_cast<unsigned>(EBADF));
    EXPECT_FALSE(std::filesystem::is_symlink(path_));
    EXPECT_EQ(readFile(target), "keep\n");
    EXPECT_EQ(log_.loggingEnabled, 0u);

    path_ = "/error.log-not-here-" + std::to_string(getpid());
    {
        pisnp::sys::Override<decltype(pisnp::sys::Table::open)> denied(
            &pisnp::sys::Table::open, [](const char*, int, mode_t) {
                errno = EACCES;
                return -1;
            });
        EXPECT_EQ(open(0), nullptr);
    }
    EXPECT_EQ(log_.lastErrno, static_cast<unsigned>(EACCES));
}

TEST_F(LogFileTest, FailedWritesLeaveTheLogAsItWas) {
    ASSERT_NE(open(4096), nullptr);
    fill(1, 10);
    std::string before = content();
    {
        pisnp::sys::Override<decltype(pisnp::sys::Table::fwrite)> full(
            &pisnp::sys::Table::fwrite, [](const void*, size_t, size_t, FILE*) -> size_t {
                errno = ENOSPC;
                return 0;
            });
        pisnp::sys::Override<decltype(pisnp::sys::Table::pwrite)> fullAt(
            &pisnp::sys::Table::pwrite, [](int, const void*, size_t, off_t) -> ssize_t {
                errno = ENOSPC;
                return -1;
            });
        std::string line = datedLine(0, "n=11");
        EXPECT_EQ(logfile::writeLine(log_, line.data(), line.size()), ENOSPC);
        close();
        // A conversion that cannot write its temporary file keeps the old log.
        EXPECT_EQ(open(0), nullptr);
        EXPECT_EQ(log_.lastErrno, static_cast<unsigned>(ENOSPC));
    }
    EXPECT_EQ(content(), before);
    EXPECT_EQ(std::filesystem::directory_iterator(dir_.file("sub/dir"))->path(), path_);
}

TEST_F(LogFileTest, OpeningLeaksNothingWhenMemoryRunsOut) {
    ASSERT_NE(open(4096), nullptr);
    fill(1, 50);
    close();
    pisnp_test::sweepAllocationFailures([&] { return open(2048) != nullptr; },
                                        [&](bool, bool, pisnp_test::AllocTracker& t) {
                                            close();
                                            EXPECT_EQ(t.live(), 0u);
                                            EXPECT_LE(content().size(), 4096u);
                                        });
}

}  // namespace
