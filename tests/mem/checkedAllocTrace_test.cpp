// The lines the checked allocator writes under the memory trace class. Hosts and support tools
// read them back to follow each block's life, so every text is checked byte for byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "diag/traceTestSupport.h"
#include "mem/checkedAlloc.h"
#include "support/allocTracker.h"

namespace {

using pisnp_test::AllocTracker;

std::string ptrText(const void* p) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", p);
    return text;
}

class CheckedAllocTrace : public trace_test::TraceTest {
  protected:
    void SetUp() override {
        TraceTest::SetUp();
        path_ = dir_.file("mem.trace");
        ASSERT_EQ(enable("-ALL MEMORY -TIMESTAMP -PREFIX"), 0);
        ASSERT_EQ(begin(path_), 0);
        mark_ = trace_test::readFile(path_).size();
    }
    // Later tests of this program run with the quiet allocator again.
    void TearDown() override {
        enable("-ALL");
        TraceTest::TearDown();
    }
    // What was traced since the last call.
    std::string lines() {
        std::string content = trace_test::readFile(path_);
        std::string fresh = content.substr(mark_);
        mark_ = content.size();
        return fresh;
    }
    std::string path_;
    size_t mark_ = 0;
};

TEST_F(CheckedAllocTrace, EachBlockLifeStepHasItsLine) {
    void* p = arcMalloc(8, "a.cpp", 11);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(lines(), "ARCEM(+) Addr " + ptrText(p) + " Size 8 File a.cpp Line 11\n");

    void* c = arcCalloc(3, 4, "b.cpp", 12);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(lines(), "ARCEM(c+) Addr " + ptrText(c) + " Size 4 Count 3 File b.cpp Line 12\n");

    void* q = arcRealloc(p, 100, "c.cpp", 13);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(lines(), "ARCEM(r+) naddr " + ptrText(q) + " oaddr " + ptrText(p) +
                           " nsize 100 File c.cpp Line 13\n");

    void* r = arcRealloc(nullptr, 5, "c.cpp", 14);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(lines(), "ARCEM(r+) naddr " + ptrText(r) + " oaddr " + ptrText(nullptr) +
                           " nsize 5 File c.cpp Line 14\n");

    arcFree(nullptr, "d.cpp", 15);
    EXPECT_EQ(lines(), "Attempt to free NULL pointer. File d.cpp Line 15\n");

    arcFree(q, "e.cpp", 16);
    EXPECT_EQ(lines(), "ARCEM(-) Addr " + ptrText(q) + " File e.cpp Line 16\n");
    arcFree(c, "e.cpp", 17);
    arcFree(r, "e.cpp", 18);
}

TEST_F(CheckedAllocTrace, RefusedBlocksNameTheirFault) {
    auto* p = static_cast<unsigned char*>(arcMalloc(4, "a.cpp", 1));
    ASSERT_NE(p, nullptr);
    lines();
    std::string at = ptrText(p);

    p[4] ^= 0xFF;  // first trailer byte
    arcFree(p, "f.cpp", 21);
    EXPECT_EQ(lines(), "Block trailer invalid, possible memory overwrite. Addr " + at +
                           ", File f.cpp, Line 21\n");
    p[4] ^= 0xFF;

    p[-16] ^= 0xFF;  // header magic
    EXPECT_EQ(arcRealloc(p, 9, "g.cpp", 22), nullptr);
    EXPECT_EQ(lines(), "Block header invalid, possible memory overwrite. Addr " + at +
                           ", File g.cpp, Line 22\n");
    p[-16] ^= 0xFF;

    SetDeleteMagicValue(p);
    EXPECT_EQ(chkSnake(p, "h.cpp", 23), -1);
    EXPECT_EQ(lines(), "Block header invalid, This block already released. Addr " + at +
                           ", File h.cpp, Line 23\n");

    unsigned int live = arc::kLiveMagic;
    std::memcpy(p - 16, &live, 4);
    std::memcpy(p + 4, &live, 4);
    arcFree(p, "a.cpp", 2);
}

TEST_F(CheckedAllocTrace, FailedAllocationsReportSizeFileAndLine) {
    AllocTracker tracker;
    tracker.failAt(1);
    EXPECT_EQ(arcMalloc(10, "m.cpp", 31), nullptr);
    EXPECT_EQ(lines(), "calloc() failed: Size 10 File m.cpp Line 31\n");

    // The element size, not the product, is what the line shows.
    tracker.failAt(1);
    EXPECT_EQ(arcCalloc(6, 7, "n.cpp", 32), nullptr);
    EXPECT_EQ(lines(), "calloc() failed: Size 7 File n.cpp Line 32\n");

    void* p = arcMalloc(2, "o.cpp", 33);
    ASSERT_NE(p, nullptr);
    lines();
    tracker.failAt(1);
    EXPECT_EQ(arcRealloc(p, 64, "o.cpp", 34), nullptr);
    EXPECT_NE(lines().find("Realloc failed: Old addr " + ptrText(p) +
                           " New Size 64 File o.cpp Line 34\n"),
              std::string::npos);
    arcFree(p, "o.cpp", 35);
    EXPECT_EQ(tracker.live(), 0u);
}

// The allocator reports through the layer below the trace facility; its lines still carry the
// allocator's own source behind the PREFIX part.
TEST_F(CheckedAllocTrace, LinesNameTheAllocatorsSourceUnderPrefix) {
    ASSERT_EQ(enable("PREFIX"), 0);
    arcFree(nullptr, "p.cpp", 36);
    EXPECT_EQ(lines().rfind("checkedAlloc.cpp    (", 0), 0u);
}

}  // namespace
