// Shared memory blocks of the file layer: the segments are made where the pools that share them
// live (mem), and the file layer hands its calls there.
#include "mem/shmSegments.h"
#include "pisnp/files.h"

void* pkShmMalloc(unsigned long size, int* shmId) {
    return pisnp::mem::shmSegmentAlloc(size, shmId);
}

void pkReleaseShrMem(int shmId, void* addr) {
    pisnp::mem::shmSegmentRelease(shmId, addr);
}
