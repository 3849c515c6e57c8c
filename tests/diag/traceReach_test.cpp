// Trace calls of the volume lists reach the trace file under their class, and only under it.
#include <string>

#include "bkpSnapVolumeList.h"
#include "traceTestSupport.h"

namespace {

class TraceReachTest : public trace_test::TraceTest {};

TEST_F(TraceReachTest, VolumeListCopyTracesUnderSnapshotClass) {
    std::string path = dir_.file("lists.out");
    ASSERT_EQ(enable("-ALL SNAPSHOT"), 0);
    ASSERT_EQ(begin(path), 0);

    char source[] = "/dev/vg01/home";
    char target[] = "/mnt/snap";
    char name[] = "home";
    bkpSnapVolumeList_t node;
    initSnapList(&node);
    node.source = source;
    node.target = target;
    node.volumeName = name;
    bkpSnapVolumeList_t* copy = nullptr;
    ASSERT_EQ(CopySnapList(&node, &copy, 0), 0);
    freeSnapList(copy, 1);

    std::string text = trace_test::readFile(path);
    EXPECT_NE(text.find("CopySnapList(): Added node with source </dev/vg01/home> and target "
                        "</mnt/snap> volumeName <home>\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("CopySnapList(): Number of nodes added <1>\n"), std::string::npos);
    EXPECT_EQ(text.find("Enter."), std::string::npos) << "ENTER is off";
}

}  // namespace
