// The trace file as a reader finds it: header, end marker, wrap and segment markers, reuse.
#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "base/sysCalls.h"
#include "traceTestSupport.h"

namespace {

using trace_test::headerOffset;
using trace_test::readFile;

const std::string kEndOfData = "\nEND OF DATA\n\n";
const std::string kCloseMarker = "\nEND OF DATA - close\n\n";
constexpr size_t kMB = 1048576;

// These read only the header and the bytes it points at, so that they can run after every line.
unsigned long headerOffsetOf(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY);
    char head[25] = {};
    if (fd >= 0) {
        if (pread(fd, head, 24, 0) != 24) head[0] = '\0';
        close(fd);
    }
    return std::strtoul(head + 12, nullptr, 10);
}

std::string markerAtHeaderOffset(const std::string& path, size_t len) {
    unsigned long at = headerOffsetOf(path);
    int fd = open(path.c_str(), O_RDONLY);
    std::string out(len, '\0');
    ssize_t n = fd >= 0 ? pread(fd, out.data(), len, static_cast<off_t>(at)) : -1;
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    if (fd >= 0) close(fd);
    return out;
}

class TraceFileTest : public trace_test::TraceTest {
  protected:
    // Lines carry no prefix, so their bytes are known exactly.
    void beginBare(const std::string& path, unsigned maxMB, unsigned segMB = 0) {
        trSetMaxTraceSize(maxMB);
        if (segMB != 0) trSetMaxTraceSegSize(segMB);
        ASSERT_EQ(enable("GENERAL"), 0);
        ASSERT_EQ(begin(path), 0);
        ASSERT_EQ(enable("-TIMESTAMP -PREFIX"), 0);
    }
    static std::string line(int i, size_t width) {
        std::string text = "line " + std::to_string(i) + " ";
        text.resize(width - 1, 'x');
        return text + "\n";
    }
};

TEST_F(TraceFileTest, WrappedFileKeepsItsHeaderPointingAtTheEndMarker) {
    std::string path = dir_.file("wrap.out");
    beginBare(path, 1);

    std::string content = readFile(path);
    std::string firstLine = content.substr(0, content.find('\n'));
    EXPECT_EQ(firstLine.substr(0, 24), "BKP Trace   " + std::string(content.substr(12, 12)));
    EXPECT_EQ(firstLine.substr(24, 11), "1          ");
    EXPECT_NE(firstLine.find("  Build date: "), std::string::npos);
    size_t dataStart = firstLine.size() + 2;  // the header ends with two newlines
    EXPECT_EQ(content.substr(dataStart, 21), "BEGINNING NEW TRACE\n\n");

    const size_t width = 1000;
    bool wrapped = false;
    for (int i = 0; i < 1100 && !wrapped; ++i) {
        unsigned long before = headerOffsetOf(path);
        std::string text = line(i, width);
        trPrintf("file.cpp", 1, "%s", text.c_str());
        ASSERT_EQ(markerAtHeaderOffset(path, kEndOfData.size()), kEndOfData) << "after line " << i;
        if (before + width + 17 > kMB) {
            wrapped = true;
            content = readFile(path);
            EXPECT_EQ(content.substr(before, 33), "\nContinued at beginning of file\n\n");
            EXPECT_EQ(content.substr(dataStart, width), text);
            EXPECT_EQ(headerOffset(content), dataStart + width);
            EXPECT_LE(content.size(), kMB);
        }
    }
    ASSERT_TRUE(wrapped);

    trClose(0);
    EXPECT_EQ(markerAtHeaderOffset(path, kCloseMarker.size()), kCloseMarker);
}

TEST_F(TraceFileTest, SegmentsAreUsedInRotation) {
    std::string base = dir_.file("seg.out");
    beginBare(base, 3, 1);
    EXPECT_EQ(std::string(trGetTraceFileName()), base + ".1");

    // Enough for three segments and the start of the first one again.
    const size_t width = 4000;
    for (int i = 0; i < 3 * 262 + 20; ++i) trPrintf("file.cpp", 1, "%s", line(i, width).c_str());
    EXPECT_EQ(std::string(trGetTraceFileName()), base + ".1");

    for (int seg = 1; seg <= 3; ++seg) {
        std::string content = readFile(base + "." + std::to_string(seg));
        ASSERT_FALSE(content.empty()) << seg;
        EXPECT_LE(content.size(), kMB) << seg;
        size_t dataStart = content.find("\n\n") + 2;
        int previous = seg == 1 ? 3 : seg - 1;
        EXPECT_EQ(content.substr(dataStart, 33),
                  "Continued from end of segment " + std::to_string(previous) + "\n\n")
            << seg;
        if (seg != 1) {
            int next = seg % 3 + 1;
            std::string marker =
                "\nContinued at beginning of segment " + std::to_string(next) + "\n\n";
            EXPECT_EQ(content.substr(headerOffset(content), marker.size()), marker) << seg;
        }
    }
    std::string first = readFile(base + ".1");
    EXPECT_EQ(first.substr(headerOffset(first), kEndOfData.size()), kEndOfData);
    EXPECT_FALSE(std::filesystem::exists(base + ".4"));
}

TEST_F(TraceFileTest, SegmentSizesFollowMaximumAndSegmentSize) {
    TraceObject* t = traceObj;
    trSetMaxTraceSize(2500);
    EXPECT_EQ(t->segmentCount, 3u);
    EXPECT_EQ(t->segSizeMB, 1000u);
    EXPECT_EQ(t->lastSegSizeMB, 500u);
    std::string name = dir_.file("big.out");
    ASSERT_EQ(trSetTraceFileNameNoLink(name.data()), 0);
    EXPECT_EQ(std::string(trGetTraceFileName()), name + ".1");

    trSetMaxTraceSegSize(700);
    EXPECT_EQ(t->segmentCount, 4u);
    EXPECT_EQ(t->lastSegSizeMB, 400u);

    // A segment size without a maximum rotates without end.
    trReset(0);
    trSetMaxTraceSegSize(0);
    trSetMaxTraceSegSize(1);
    EXPECT_EQ(t->segmentCount, 0xFFFFFFFFu);
    std::string base = dir_.file("endless.out");
    ASSERT_EQ(begin(base), 0);
    std::string text(4000, 'y');
    for (int i = 0; i < 270; ++i) trPrintf("f", 1, "%s\n", text.c_str());
    EXPECT_EQ(std::string(trGetTraceFileName()), base + ".2");
}

TEST_F(TraceFileTest, BoundedFileIsContinuedOnlyWhenItsHeaderAllows) {
    std::string path = dir_.file("reuse.out");
    beginBare(path, 2);
    trPrintf("f", 1, "first run\n");
    trClose(1);

    beginBare(path, 2);
    trPrintf("f", 1, "second run\n");
    std::string content = readFile(path);
    EXPECT_NE(content.find("first run\n"), std::string::npos);
    EXPECT_LT(content.find("BEGINNING NEW TRACE"), content.rfind("BEGINNING NEW TRACE"));
    EXPECT_EQ(content.substr(headerOffset(content), kEndOfData.size()), kEndOfData);
    trClose(1);

    // Recorded with a larger maximum than now: started afresh.
    beginBare(path, 1);
    content = readFile(path);
    EXPECT_EQ(content.find("first run"), std::string::npos);
    trClose(1);

    // Not a trace file at all: started afresh.
    { std::ofstream(path) << "some other file\n"; }
    beginBare(path, 2);
    content = readFile(path);
    EXPECT_EQ(content.rfind("BKP Trace   ", 0), 0u);
    EXPECT_EQ(content.find("some other file"), std::string::npos);
}

TEST_F(TraceFileTest, UnboundedFileGetsABannerAtEachBegin) {
    std::string path = dir_.file("plain.out");
    ASSERT_EQ(enable("GENERAL -TIMESTAMP -PREFIX"), 0);
    ASSERT_EQ(begin(path), 0);
    trPrintf("f", 1, "one\n");
    trClose(0);
    ASSERT_EQ(begin(path), 0);
    trPrintf("f", 1, "two\n");
    trClose(0);
    std::string content = readFile(path);
    std::string banner = content.substr(0, content.find("one\n"));
    EXPECT_EQ(banner.rfind("BKP Trace   ", 0), 0u);
    EXPECT_NE(banner.find(" \nBuild Date: "), std::string::npos);
    EXPECT_EQ(banner.substr(banner.size() - 21), "BEGINNING NEW TRACE\n\n");
    EXPECT_EQ(content, banner + "one\n" + banner + "two\n");
}

TEST_F(TraceFileTest, SymbolicLinkIsRefusedAndRemoved) {
    std::string target = dir_.file("target");
    std::string link = dir_.file("link.out");
    { std::ofstream(target) << "keep me\n"; }
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    {
        trace_test::StdoutCapture out;
        EXPECT_EQ(trSetTraceFileName(link.data()), PISNP_RC_SYMLINK_REFUSED);
        EXPECT_NE(out.text().find(link), std::string::npos);
    }
    EXPECT_FALSE(std::filesystem::is_symlink(link));
    EXPECT_EQ(readFile(target), "keep me\n");
    EXPECT_STREQ(trGetTraceFileName(), "");

    std::string plain = dir_.file("plain.out");
    EXPECT_EQ(trSetTraceFileName(plain.data()), 0);
    EXPECT_EQ(std::string(trGetTraceFileName()), plain);
}

TEST_F(TraceFileTest, BadNamesAndUnopenableFilesAreRefused) {
    trace_test::StdoutCapture out;
    std::string longName(4097, 'n');
    char empty[] = "";
    EXPECT_EQ(trSetTraceFileNameNoLink(longName.data()), -1);
    EXPECT_EQ(trSetTraceFileNameNoLink(empty), -1);
    EXPECT_EQ(trSetTraceFileNameNoLink(nullptr), -1);

    std::string quoted = "\"" + dir_.file("quoted name.out") + "\"";
    EXPECT_EQ(trSetTraceFileNameNoLink(quoted.data()), 0);
    EXPECT_EQ(std::string(trGetTraceFileName()), dir_.file("quoted name.out"));

    trReset(1);
    trSetMaxTraceSize(1);
    EXPECT_EQ(begin(dir_.file("missing/dir/t.out")), PISNP_RC_TRACE_OPEN_FAILED);
    EXPECT_EQ(trTraceIsRunning(), 0);
    EXPECT_EQ(trace_detail::classOn(TR_TIMESTAMP), false);
    EXPECT_NE(out.text().find("Unable to open trace output file"), std::string::npos);
}

TEST_F(TraceFileTest, WriteFailureDisablesTracingUntilANewBegin) {
    std::string path = dir_.file("full.out");
    ASSERT_EQ(enable("GENERAL -TIMESTAMP -PREFIX"), 0);
    ASSERT_EQ(begin(path), 0);

    std::string printed;
    {
        // The disk is full when the line is flushed.
        pisnp::sys::Override full(&pisnp::sys::Table::fflush, +[](FILE*) {
            errno = ENOSPC;
            return EOF;
        });
        trace_test::StdoutCapture out;
        trPrintf("f", 1, "%s\n", "lost");
        printed = out.text();
    }

    EXPECT_NE(printed.find("Unable to write to trace file " + path + ". Tracing disabled."),
              std::string::npos);
    EXPECT_EQ(trTraceIsRunning(), 0);
    EXPECT_EQ(trPrintf("f", 1, "ignored\n"), 0);

    std::string again = dir_.file("again.out");
    ASSERT_EQ(enable("GENERAL"), 0);
    ASSERT_EQ(begin(again), 0);
    EXPECT_GT(trPrintf("f", 1, "works again\n"), 0);
    EXPECT_NE(readFile(again).find("works again"), std::string::npos);
}

}  // namespace
