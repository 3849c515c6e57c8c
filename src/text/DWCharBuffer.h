// Wide text array of a string buffer.
#pragma once

#include <cwchar>

#include "pisnp_export.h"
#include "text/DBuffer.h"

class PISNP_API DWCharBuffer : public DBuffer {
  public:
    DWCharBuffer() : data(nullptr) {}
    DWCharBuffer(const DWCharBuffer&) = delete;
    DWCharBuffer& operator=(const DWCharBuffer&) = delete;
    using DBuffer::operator=;

    ~DWCharBuffer() override;
    int isChar() const override;
    void grow(int minCapacity, int keep) override;
    // len counts characters of s.
    void assign(const char* s, int len, int exact) override;
    void assign(const wchar_t* s, int len, int exact) override;

    wchar_t* data;  // null while capacity is 0
};
