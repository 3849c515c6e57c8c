#include "pisnp/buffers.h"

DBuffer::~DBuffer() = default;

DBuffer& DBuffer::operator=(const DBuffer& src) {
    if (this == &src) return *this;
    if (src.isChar() != 0) {
        assign(static_cast<const DCharBuffer&>(src).data, src.capacity - 1, 0);
    } else {
        assign(static_cast<const DWCharBuffer&>(src).data, src.capacity - 1, 0);
    }
    return *this;
}

int DBuffer::calcNewCapacity(int n) {
    constexpr int kMinimum = 16;
    constexpr int kLargestPower = 1 << 30;
    if (n <= kMinimum) return kMinimum;
    if (n > kLargestPower) return n;  // the next power of two would not fit
    int capacity = kMinimum;
    while (capacity < n) capacity <<= 1;
    return capacity;
}
