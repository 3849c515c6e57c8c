// Internals of the checked allocator that other parts of the library rely on: the frame's
// constants and a deleter for std::unique_ptr. The interface is in pisnp/alloc.h.
#pragma once

#include <cstddef>

#include "pisnp/alloc.h"

namespace arc {

inline constexpr unsigned int kLiveMagic = 0xABCDDCBAu;
inline constexpr unsigned int kReleasedMagic = 0xDEADDEADu;
inline constexpr size_t kHeaderSize = 16;
inline constexpr size_t kOverhead = 20;

// Deleter for std::unique_ptr over checked blocks.
struct Free {
    void operator()(void* p) const { arcFree(p, __FILE_NAME__, __LINE__); }
};

}  // namespace arc
