// Private System V shared-memory segments: the memory of pools that are shared with another
// process. The segment functions of the file services hand their work to these.
#pragma once

namespace pisnp::mem {

// A new private segment of size bytes, owned by the calling user and attached to this process.
// Its id goes to *shmId. Null on failure: *shmId is 0 when no segment could be made, -1 when it
// was made but could not be attached (it has been removed again).
void* shmSegmentAlloc(unsigned long size, int* shmId);

// Detaches addr and removes segment shmId; does nothing for the id -1.
void shmSegmentRelease(int shmId, void* addr);

}  // namespace pisnp::mem
