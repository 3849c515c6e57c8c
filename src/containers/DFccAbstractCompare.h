// Compare objects: decide how a list item matches a key and how two items order.
//
// ccCompare answers 0 when a and b are equal, 1 when a is greater than b and 2 when a is less
// than b. Subclasses override it; the base orders the two pointer values themselves.
#pragma once

#include <cstddef>

#include "mem/checkedAlloc.h"
#include "pisnp_export.h"

class PISNP_API DFccAbstractCompare {
  public:
    enum { kEqual = 0, kGreater = 1, kLess = 2 };

    DFccAbstractCompare() = default;
    virtual ~DFccAbstractCompare();
    virtual int ccCompare(void* a, void* b);

    // Compare objects made with new come from the checked allocator like every other block.
    static void* operator new(size_t size) noexcept { return ARC_MALLOC(size); }
    static void operator delete(void* p) noexcept { ARC_FREE(p); }
};
