#include "mem/shmSegments.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base/report.h"
#include "base/sysCalls.h"
#include "pisnp/traceFlags.h"

namespace pisnp::mem {

namespace {

// Create, owner read and write.
constexpr int kSegmentFlags = 01600;

const char* errnoName(int err, char (&number)[16]) {
    switch (err) {
        case ENOENT:
            return "ENOENT";
        case ENOMEM:
            return "ENOMEM";
        case EACCES:
            return "EACCES";
        case EEXIST:
            return "EEXIST";
        case EINVAL:
            return "EINVAL";
        case EIDRM:
            return "EIDRM";
        default:
            std::snprintf(number, sizeof number, "%d", err);
            return number;
    }
}

}  // namespace

void* shmSegmentAlloc(unsigned long size, int* shmId) {
    int id = sys::shmget(IPC_PRIVATE, size, kSegmentFlags);
    if (id == -1) {
        int err = errno;
        char number[16];
        report::diag(__FILE_NAME__, __LINE__, TR_COMM,
                     "Error allocating Shared Memory block: errno(%s), reason(%s), shmflg(%o)\n",
                     errnoName(err, number), std::strerror(err), kSegmentFlags);
        *shmId = 0;
        return nullptr;
    }
    // A segment made by a process running set-uid belongs to the user it runs for.
    shmid_ds status;
    if (sys::shmctl(id, IPC_STAT, &status) == 0) {
        status.shm_perm.uid = getuid();
        sys::shmctl(id, IPC_SET, &status);
    }
    void* addr = sys::shmat(id, nullptr, 0);
    if (addr == reinterpret_cast<void*>(-1)) {
        report::diag(__FILE_NAME__, __LINE__, TR_COMM,
                     "Unable to attach shared memory block, errno = %d.\n", errno);
        sys::shmctl(id, IPC_RMID, nullptr);
        *shmId = -1;
        return nullptr;
    }
    if (TR_COMM != 0 || TR_GENERAL != 0)
        report::trace(__FILE_NAME__, __LINE__, "Value of shrMemP (sys-client): %x\n",
                      static_cast<unsigned>(reinterpret_cast<uintptr_t>(addr)));
    *shmId = id;
    return addr;
}

void shmSegmentRelease(int shmId, void* addr) {
    if (shmId == -1) return;
    sys::shmdt(addr);
    sys::shmctl(shmId, IPC_RMID, nullptr);
}

}  // namespace pisnp::mem
