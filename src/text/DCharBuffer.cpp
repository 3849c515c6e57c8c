#include "pisnp/buffers.h"

#include "text/bufferArray.h"
#include "text/bufferConversion.h"

DCharBuffer::~DCharBuffer() {
    if (data != nullptr) ARC_FREE(data);
}

int DCharBuffer::isChar() const {
    return 1;
}

void DCharBuffer::grow(int minCapacity, int keep) {
    if (capacity < minCapacity) {
        dbuf::reallocate(data, capacity, calcNewCapacity(minCapacity), keep);
        if (keep == 0) length = 0;
    }
}

void DCharBuffer::assign(const char* s, int len, int exact) {
    length = static_cast<int>(dbuf::assignSameKind(*this, s, len, exact));
}

void DCharBuffer::assign(const wchar_t* s, int len, int exact) {
    if (s == nullptr) s = L"";
    bool counted = exact != 0 && len >= 0;  // a negative len means all of s
    if (!counted) {
        auto bytes = dbuf::multibyteLength(s);
        if (len < 0 || static_cast<size_t>(len) < bytes) len = static_cast<int>(bytes);
    }
    grow(len + 1, 0);
    size_t room = counted ? static_cast<size_t>(len) : static_cast<size_t>(capacity - 1);
    length = static_cast<int>(dbuf::toMultibyte(data, room, s));
}
