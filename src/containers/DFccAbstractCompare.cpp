#include "pisnp/lists.h"

#include <cstdint>

DFccAbstractCompare::~DFccAbstractCompare() = default;

int DFccAbstractCompare::ccCompare(void* a, void* b) {
    auto x = reinterpret_cast<uintptr_t>(a);
    auto y = reinterpret_cast<uintptr_t>(b);
    if (x == y) return kEqual;
    return x > y ? kGreater : kLess;
}
