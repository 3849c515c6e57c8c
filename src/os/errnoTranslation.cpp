#include "pisnp/errors.h"

#include <array>
#include <cerrno>
#include <cstring>

#include "base/report.h"
#include "mem/checkedAlloc.h"
#include "pisnp/resultCodes.h"
#include "pisnp/strings.h"
#include "pisnp/traceFlags.h"

namespace {

// Linux numbers errno values from 0 to 170; beyond that nothing has a code.
constexpr int kErrnoCount = 171;

struct Translation {
    int err;
    int rc;
};

// Every errno with a code of its own; the rest are unexpected.
constexpr Translation kTranslations[] = {
    {0, PISNP_RC_OK},
    {EPERM, PISNP_RC_ACCESS_DENIED},
    {ENOENT, PISNP_RC_NOT_FOUND},
    {EIO, PISNP_RC_IO_ERROR},
    {E2BIG, PISNP_RC_NO_MEMORY},
    {EAGAIN, PISNP_RC_TRY_AGAIN},
    {ENOMEM, PISNP_RC_NO_MEMORY},
    {EACCES, PISNP_RC_ACCESS_DENIED},
    {EEXIST, PISNP_RC_ALREADY_EXISTS},
    {ENODEV, PISNP_RC_NOT_FOUND},
    {ENOTDIR, PISNP_RC_ACCESS_DENIED},
    {EISDIR, PISNP_RC_ACCESS_DENIED},
    {ENFILE, PISNP_RC_IO_ERROR},
    {EMFILE, PISNP_RC_IO_ERROR},
    {ETXTBSY, PISNP_RC_FILE_BUSY},
    {EFBIG, PISNP_RC_FILE_TOO_BIG},
    {ENOSPC, PISNP_RC_DISK_FULL},
    {EROFS, PISNP_RC_READ_ONLY_FS},
    {ENAMETOOLONG, PISNP_RC_NAME_TOO_LONG},
    {ENOTEMPTY, PISNP_RC_IO_ERROR},
    {ELOOP, PISNP_RC_TOO_MANY_LINKS},
    {EL2NSYNC, PISNP_RC_ACCESS_DENIED},
    {EREMOTE, PISNP_RC_REMOTE_OBJECT},
    {ETIMEDOUT, PISNP_RC_ACCESS_DENIED},
    {EHOSTDOWN, PISNP_RC_IO_ERROR},
    {EHOSTUNREACH, PISNP_RC_IO_ERROR},
    {ESTALE, PISNP_RC_STALE_HANDLE},
    {EDQUOT, PISNP_RC_QUOTA_EXCEEDED},
};

constexpr std::array<int, kErrnoCount> kTable = [] {
    std::array<int, kErrnoCount> table{};
    table.fill(PISNP_RC_UNEXPECTED);
    for (const Translation& t : kTranslations) table[static_cast<size_t>(t.err)] = t.rc;
    return table;
}();

// The longest text strerror_r gives, with room to spare.
constexpr size_t kErrorTextSize = 8767;

void traceReceived(const char* opName, int err, int rc) {
    REPORT_TRACE(TR_FILEOPS | TR_ERROR, "TransErrno: Received error from %s, errno = %d, rc = %d\n",
                 opName, err, rc);
}

bool isReadOrWrite(const char* opName) {
    return opName != nullptr &&
           (std::strcmp(opName, "write") == 0 || std::strcmp(opName, "read") == 0);
}

}  // namespace

int psTransErrno(int err, char* opName) {
    const char* op = opName != nullptr ? opName : "";
    if (isReadOrWrite(op)) {
        // A descriptor that is gone or a file removed under the reader is "not found" here; a
        // pipe or a dropped connection has codes of its own.
        if (err == EBADF || err == ENOENT) return PISNP_RC_NOT_FOUND;
        if (err == ESPIPE || err == ECONNABORTED) {
            int rc = err == ESPIPE ? PISNP_RC_ILLEGAL_SEEK : PISNP_RC_CONNECTION_ABORTED;
            traceReceived(op, err, rc);
            return rc;
        }
    }
    if (static_cast<unsigned int>(err) >= kErrnoCount) {
        pisnp::report::diag(__FILE_NAME__, __LINE__, TR_FILEOPS,
                            "TransErrno: Larger than errno in %s, errno = %d\n", op, err);
        return PISNP_RC_UNEXPECTED;
    }
    int rc = kTable[static_cast<size_t>(err)];
    if (rc == PISNP_RC_UNEXPECTED)
        pisnp::report::diag(__FILE_NAME__, __LINE__, TR_FILEOPS,
                            "TransErrno: Unexpected error from %s, errno = %d\n", op, err);
    traceReceived(op, err, rc);
    return rc;
}

int TransErrno(int err, char* opName) {
    int rc = psTransErrno(err, opName);
    if (rc != PISNP_RC_UNEXPECTED && rc != PISNP_RC_UNKNOWN) return rc;
    if (TEST_CONTINUEWITHUNKNOWNRC.on != 0) {
        // Lets a test run carry on past an error the client does not know yet.
        int remapped = PISNP_RC_ACCESS_DENIED;
        if (err == TEST_CONTINUEWITHUNKNOWNRC.value)
            REPORT_TRACE(TR_GENERAL,
                         "TransErrno(): Remapped specific error code = %d from RC %d to RC %d\n",
                         err, rc, remapped);
        else
            REPORT_TRACE(TR_GENERAL,
                         "TransErrno(): Remapped RC %d to RC %d (unknown error code = %d)\n", rc,
                         remapped, err);
        return remapped;
    }
    if (err == EOVERFLOW) {
        REPORT_TRACE(TR_GENERAL,
                     "TransErrno(): Remapped specific error code = %d from RC %d to RC %d\n", err,
                     rc, PISNP_RC_VALUE_OVERFLOW);
        return PISNP_RC_VALUE_OVERFLOW;
    }
    return rc;
}

OSStringError::~OSStringError() {
    if (text_ != nullptr) ARC_FREE(text_);
}

char* OSStringError::psGetErrorTranslation(unsigned int err, void*) {
    if (text_ != nullptr) ARC_FREE(text_);
    text_ = nullptr;
    char buffer[kErrorTextSize];
    // The GNU form: the text may be a constant of the C library rather than the buffer.
    text_ = StrDup(strerror_r(static_cast<int>(err), buffer, sizeof buffer));
    return text_;
}
