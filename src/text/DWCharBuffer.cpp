#include "pisnp/buffers.h"

#include "text/bufferArray.h"
#include "text/bufferConversion.h"

DWCharBuffer::~DWCharBuffer() {
    if (data != nullptr) ARC_FREE(data);
}

int DWCharBuffer::isChar() const {
    return 0;
}

void DWCharBuffer::grow(int minCapacity, int keep) {
    if (capacity < minCapacity)
        dbuf::reallocate(data, capacity, calcNewCapacity(minCapacity), keep);
}

void DWCharBuffer::assign(const char* s, int len, int exact) {
    if (s == nullptr) s = "";
    bool counted = exact != 0 && len >= 0;  // a negative len means all of s
    if (!counted) {
        auto chars = dbuf::charCount(s);
        if (len < 0 || static_cast<size_t>(len) < chars) len = static_cast<int>(chars);
    }
    grow(len + 1, 0);
    size_t room = counted ? static_cast<size_t>(len) : static_cast<size_t>(capacity - 1);
    dbuf::toWide(data, room, s);
}

void DWCharBuffer::assign(const wchar_t* s, int len, int exact) {
    dbuf::assignSameKind(*this, s, len, exact);
}
