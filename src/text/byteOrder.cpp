#include <cstdint>

#include "pisnp/strings.h"

// Built from single bytes with shifts, so the result is the same on machines of either byte
// order and no alignment of p is needed.

void SetTwo(void* p, uint16_t v) {
    auto* b = static_cast<unsigned char*>(p);
    b[0] = static_cast<unsigned char>(v >> 8);
    b[1] = static_cast<unsigned char>(v);
}

uint16_t GetTwo(const void* p) {
    auto* b = static_cast<const unsigned char*>(p);
    return static_cast<uint16_t>((b[0] << 8) | b[1]);
}

void SetFour(void* p, uint32_t v) {
    auto* b = static_cast<unsigned char*>(p);
    for (int i = 0; i < 4; ++i) b[i] = static_cast<unsigned char>(v >> (8 * (3 - i)));
}

uint32_t GetFour(const void* p) {
    auto* b = static_cast<const unsigned char*>(p);
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | b[i];
    return v;
}

// The high half first, then the low half, each in the four-byte form.
void SetEight(void* p, uint64_t v) {
    auto* b = static_cast<unsigned char*>(p);
    SetFour(b, static_cast<uint32_t>(v >> 32));
    SetFour(b + 4, static_cast<uint32_t>(v));
}

uint64_t GetEight(const void* p) {
    auto* b = static_cast<const unsigned char*>(p);
    return (static_cast<uint64_t>(GetFour(b)) << 32) | GetFour(b + 4);
}
