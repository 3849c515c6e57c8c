// Array handling shared by the two buffer kinds; not exported.
#pragma once

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <new>

#include "mem/checkedAlloc.h"
#include "text/strInternal.h"

namespace dbuf {

// Replaces the array by one of newCapacity elements. Nothing changes when the allocation fails.
template <typename C>
void reallocate(C*& data, int& capacity, int newCapacity, int keep) {
    size_t bytes = static_cast<size_t>(newCapacity) * sizeof(C);
    if (keep != 0 && data != nullptr) {
        // Growing in place where the allocator can: a text that is appended to grows big.
        auto* grown = static_cast<C*>(ARC_REALLOC(data, bytes));
        if (grown == nullptr) throw std::bad_alloc();
        data = grown;
        capacity = newCapacity;
        return;
    }
    auto* fresh = static_cast<C*>(ARC_MALLOC(bytes));
    if (fresh == nullptr) throw std::bad_alloc();
    fresh[0] = C{};  // a new array holds the empty text, never garbage
    if (data != nullptr) ARC_FREE(data);
    data = fresh;
    capacity = newCapacity;
}

// Where s lies inside the array, its element offset; else -1.
template <typename C>
ptrdiff_t offsetInside(const C* data, int capacity, const C* s) {
    if (data == nullptr) return -1;
    auto at = reinterpret_cast<uintptr_t>(s);
    auto lo = reinterpret_cast<uintptr_t>(data);
    if (at < lo || at >= lo + static_cast<size_t>(capacity) * sizeof(C)) return -1;
    return s - data;
}

// Same-kind assignment for either buffer. The source may be part of the buffer's own text
// (a string assigned a piece of itself): growing then keeps the old array's contents and the
// source is found again in the new one. Gives the length of the text assigned.
template <typename Buffer, typename C>
size_t assignSameKind(Buffer& buf, const C* s, int len, int exact) {
    static const C empty[1] = {};
    if (s == nullptr) s = empty;
    bool counted = exact != 0 && len >= 0;  // a negative len means all of s
    size_t have = counted ? text_detail::nlen(s, static_cast<size_t>(len)) : text_detail::len(s);
    if (!counted && (len < 0 || static_cast<size_t>(len) < have)) len = static_cast<int>(have);
    ptrdiff_t inside = offsetInside(buf.data, buf.capacity, s);
    buf.grow(len + 1, inside >= 0 ? 1 : 0);
    if (inside >= 0) s = buf.data + inside;
    std::memmove(buf.data, s, have * sizeof(C));
    if (counted) {
        // As strncpy: the rest of the len elements is padded, then terminated at len.
        for (size_t i = have; i <= static_cast<size_t>(len); ++i) buf.data[i] = C{};
    } else {
        buf.data[have] = C{};
    }
    return have;
}

}  // namespace dbuf
