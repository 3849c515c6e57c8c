// A symbolic link where a trace file or segment is to be opened is never written through,
// whatever the order of calls: the file it points at stays as it was.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "pisnp/resultCodes.h"
#include "traceTestSupport.h"

namespace {

using trace_test::readFile;

class TraceLinkTest : public trace_test::TraceTest {
  protected:
    void SetUp() override {
        TraceTest::SetUp();
        std::ofstream(target) << "keep me\n";
    }
    // trBegin refuses the link in name's place (removing it, as the name check would).
    void expectRefused(const std::string& name, int rc) {
        EXPECT_EQ(rc, PISNP_RC_SYMLINK_REFUSED) << name;
        EXPECT_NE(out.text().find(name), std::string::npos) << "the message names it";
        EXPECT_FALSE(std::filesystem::is_symlink(name));
        EXPECT_EQ(readFile(target), "keep me\n");
        EXPECT_EQ(trTraceIsRunning(), 0);
    }
    std::string target = dir_.file("target"), name = dir_.file("trace.out");
    trace_test::StdoutCapture out;
};

TEST_F(TraceLinkTest, LinkAsTheFileOfAnUnboundedTrace) {
    ASSERT_EQ(symlink(target.c_str(), name.c_str()), 0);
    expectRefused(name, begin(name));
}

// The name was checked while no link was there; one appears before the file is opened.
TEST_F(TraceLinkTest, LinkPlantedBetweenTheNameCheckAndTheBegin) {
    ASSERT_EQ(trSetTraceFileName(name.data()), 0);
    ASSERT_EQ(symlink(target.c_str(), name.c_str()), 0);
    trSetMaxTraceSize(1);
    expectRefused(name, begin(name));
}

TEST_F(TraceLinkTest, LinkAsTheNextSegment) {
    std::string second = name + ".2";
    ASSERT_EQ(symlink(target.c_str(), second.c_str()), 0);
    trSetMaxTraceSize(2);
    trSetMaxTraceSegSize(1);
    ASSERT_EQ(enable("GENERAL"), 0);
    ASSERT_EQ(begin(name), 0);
    std::string line(16000, 'x');
    for (int i = 0; i < 80 && trTraceIsRunning(); ++i) trPrintf("f", 1, "%s\n", line.c_str());
    expectRefused(second, PISNP_RC_SYMLINK_REFUSED);
}

TEST_F(TraceLinkTest, NewTraceFilesAreTheOwnersOnly) {
    out.text();
    ASSERT_EQ(begin(name), 0);
    trClose(1);
    trSetMaxTraceSize(1);
    std::string bounded = dir_.file("bounded.out");
    ASSERT_EQ(begin(bounded), 0);
    struct stat st {};
    for (const std::string& file : {name, bounded}) {
        ASSERT_EQ(stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << file;
    }
}

}  // namespace
