// Other subsystems' trace calls reach the trace file: the checked allocator's refusal lines.
#include <cstring>
#include <string>

#include "mem/checkedAlloc.h"
#include "support/allocTracker.h"
#include "traceTestSupport.h"

namespace {

class AllocatorTraceTest : public trace_test::TraceTest {};

TEST_F(AllocatorTraceTest, RefusedBlocksAndFailedReallocationAreTracedUnderMemory) {
    std::string path = dir_.file("mem.out");
    ASSERT_EQ(enable("-ALL MEMORY -TIMESTAMP"), 0);
    ASSERT_EQ(begin(path), 0);

    char* p = static_cast<char*>(arcMalloc(8, "caller.cpp", 11));
    ASSERT_NE(p, nullptr);
    char trailer[4];
    std::memcpy(trailer, p + 8, 4);
    p[8] ^= 0x5A;
    EXPECT_EQ(chkSnake(p, "caller.cpp", 12), -1);
    std::memcpy(p + 8, trailer, 4);

    unsigned char* raw = reinterpret_cast<unsigned char*>(p) - arc::kHeaderSize;
    raw[0] ^= 0x5A;
    EXPECT_EQ(chkSnake(p, "caller.cpp", 13), -1);
    raw[0] ^= 0x5A;

    {
        pisnp_test::AllocTracker tracker;
        tracker.failAt(1);
        EXPECT_EQ(arcRealloc(p, 64, "caller.cpp", 14), nullptr);
    }
    arcFree(p, "caller.cpp", 15);

    std::string text = trace_test::readFile(path);
    EXPECT_NE(text.find("ARCEM(+) Addr "), std::string::npos) << text;
    EXPECT_NE(text.find("Block trailer invalid, possible memory overwrite. Addr "),
              std::string::npos);
    EXPECT_NE(text.find("File caller.cpp, Line 12\n"), std::string::npos);
    EXPECT_NE(text.find("Block header invalid, possible memory overwrite. Addr "),
              std::string::npos);
    EXPECT_NE(text.find("Realloc failed: Old addr "), std::string::npos);
    EXPECT_NE(text.find("ARCEM(-) Addr "), std::string::npos);
    // Each line names the allocator's source behind the PREFIX part.
    EXPECT_NE(text.find("checkedAlloc.cpp    ("), std::string::npos);
}

}  // namespace
