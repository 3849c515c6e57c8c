// Test-only seam of the checked allocator. Not exported from libPiSNP.so.
//
// A test installs an observer to make chosen allocations fail and to follow which blocks are
// live. With no observer installed the allocator pays one predictable branch per call.
#pragma once

#include <cstddef>

namespace arc::testing {

class AllocObserver {
  public:
    // Asked before every allocation (malloc, calloc, realloc); false makes it fail as if the
    // C library had no memory.
    virtual bool allow(size_t size) = 0;
    virtual void allocated(void* userPtr) = 0;
    virtual void released(void* userPtr) = 0;

  protected:
    ~AllocObserver() = default;
};

// Installs (or with null removes) the observer; returns the previous one.
AllocObserver* setAllocObserver(AllocObserver* observer);

}  // namespace arc::testing
