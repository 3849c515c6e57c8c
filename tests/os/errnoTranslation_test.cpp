// Errno translation over every errno value: which ones have codes of their own, what the
// operation name changes, what is logged, and the remapping of unknown errors.
#include "pisnp/errors.h"

#include <cerrno>
#include <cstring>
#include <set>
#include <string>

#include "diag/traceTestSupport.h"
#include "pisnp/resultCodes.h"

namespace {

constexpr int kErrnoCount = 171;

class TransErrnoTest : public trace_test::TraceTest {
  protected:
    void SetUp() override {
        TraceTest::SetUp();
        path_ = dir_.file("errno.out");
        ASSERT_EQ(enable("-ALL FILEOPS ERROR GENERAL"), 0);
        ASSERT_EQ(begin(path_), 0);
    }
    void TearDown() override {
        TEST_CONTINUEWITHUNKNOWNRC = {};
        TraceTest::TearDown();
    }
    std::string text() const { return trace_test::readFile(path_); }
    // Counts the lines holding piece in t (the trace so far unless given).
    size_t count(const std::string& piece, std::string t = "") const {
        if (t.empty()) t = text();
        size_t n = 0;
        for (size_t at = t.find(piece); at != std::string::npos; at = t.find(piece, at + 1)) ++n;
        return n;
    }
    static int trans(int err, const char* op) { return psTransErrno(err, const_cast<char*>(op)); }
    static int remap(int err, const char* op) { return TransErrno(err, const_cast<char*>(op)); }
    std::string path_;
};

TEST_F(TransErrnoTest, EveryErrnoHasOneCodeWhateverTheOperationAndUnexpectedOnesAreLogged) {
    int rcs[kErrnoCount];
    for (int err = 0; err < kErrnoCount; ++err) rcs[err] = trans(err, "open");
    std::string logged = text();
    std::set<int> own;
    for (int err = 0; err < kErrnoCount; ++err) {
        SCOPED_TRACE(err);
        int rc = rcs[err];
        std::string e = std::to_string(err);
        EXPECT_EQ(count("TransErrno: Unexpected error from open, errno = " + e + "\n", logged),
                  rc == PISNP_RC_UNEXPECTED ? 1u : 0u);
        EXPECT_EQ(count("TransErrno: Received error from open, errno = " + e +
                            ", rc = " + std::to_string(rc) + "\n",
                        logged),
                  1u);
        EXPECT_EQ(rc == 0, err == 0);
        EXPECT_EQ(trans(err, "unlink"), rc) << "only read and write change the answer";
        if (err != EBADF && err != ENOENT && err != ESPIPE && err != ECONNABORTED) {
            EXPECT_EQ(trans(err, "read"), rc);
            EXPECT_EQ(trans(err, "write"), rc);
        }
        if (rc != PISNP_RC_UNEXPECTED) {
            own.insert(err);
            EXPECT_EQ(remap(err, "stat"), rc) << "known codes pass TransErrno unchanged";
        } else {
            EXPECT_EQ(remap(err, "stat"), err == EOVERFLOW ? PISNP_RC_VALUE_OVERFLOW : rc);
        }
    }
    // Zero and the 27 errno values the client knows; everything else is unexpected.
    EXPECT_EQ(own.size(), 28u);
    EXPECT_EQ(trans(ENOENT, "open"), PISNP_RC_NOT_FOUND);
    EXPECT_EQ(trans(EACCES, "open"), PISNP_RC_ACCESS_DENIED);
    EXPECT_EQ(trans(ENOSPC, "write"), PISNP_RC_DISK_FULL);
    EXPECT_EQ(trans(EDQUOT, "write"), PISNP_RC_QUOTA_EXCEEDED);
    EXPECT_EQ(trans(ESTALE, "open"), PISNP_RC_STALE_HANDLE);
}

TEST_F(TransErrnoTest, ReadAndWriteHaveCodesOfTheirOwnAndLargeValuesNone) {
    for (const char* op : {"read", "write"}) {
        EXPECT_EQ(trans(EBADF, op), PISNP_RC_NOT_FOUND);
        EXPECT_EQ(trans(ENOENT, op), PISNP_RC_NOT_FOUND);
        EXPECT_EQ(trans(ESPIPE, op), PISNP_RC_ILLEGAL_SEEK);
        EXPECT_EQ(trans(ECONNABORTED, op), PISNP_RC_CONNECTION_ABORTED);
    }
    EXPECT_EQ(count("TransErrno: Received error from write, errno = 29, rc = 815\n"), 1u);
    EXPECT_EQ(trans(ESPIPE, "open"), PISNP_RC_UNEXPECTED);
    EXPECT_EQ(count("TransErrno: Unexpected error from open, errno = 29\n"), 1u);
    EXPECT_EQ(count("Unexpected error from write"), 0u);
    EXPECT_EQ(trans(kErrnoCount, "stat"), PISNP_RC_UNEXPECTED);
    EXPECT_EQ(trans(-1, "stat"), PISNP_RC_UNEXPECTED);
    EXPECT_EQ(count("TransErrno: Larger than errno in stat, errno = 171\n"), 1u);
    EXPECT_EQ(count("TransErrno: Larger than errno in stat, errno = -1\n"), 1u);
}

TEST_F(TransErrnoTest, UnknownErrorsAreRemappedWhenTheTestFlagSaysSo) {
    EXPECT_EQ(remap(EOVERFLOW, "stat"), PISNP_RC_VALUE_OVERFLOW);
    EXPECT_EQ(count("TransErrno(): Remapped specific error code = 75 from RC 131 to RC 434\n"), 1u);
    EXPECT_EQ(remap(EBUSY, "rmdir"), PISNP_RC_UNEXPECTED);

    TEST_CONTINUEWITHUNKNOWNRC.on = 1;
    TEST_CONTINUEWITHUNKNOWNRC.value = EBUSY;
    EXPECT_EQ(remap(EOVERFLOW, "stat"), PISNP_RC_ACCESS_DENIED);
    EXPECT_EQ(remap(EBUSY, "rmdir"), PISNP_RC_ACCESS_DENIED);
    EXPECT_EQ(remap(ENOENT, "open"), PISNP_RC_NOT_FOUND);
    EXPECT_EQ(count("TransErrno(): Remapped RC 131 to RC 106 (unknown error code = 75)\n"), 1u);
    EXPECT_EQ(count("TransErrno(): Remapped specific error code = 16 from RC 131 to RC 106\n"), 1u);
}

}  // namespace
