// Multibyte text array of a string buffer.
#pragma once

#include "pisnp_export.h"
#include "text/DBuffer.h"

class PISNP_API DCharBuffer : public DBuffer {
  public:
    DCharBuffer() : data(nullptr) {}
    DCharBuffer(const DCharBuffer&) = delete;
    DCharBuffer& operator=(const DCharBuffer&) = delete;
    using DBuffer::operator=;

    ~DCharBuffer() override;
    int isChar() const override;
    void grow(int minCapacity, int keep) override;
    void assign(const char* s, int len, int exact) override;
    // len counts bytes of the multibyte result.
    void assign(const wchar_t* s, int len, int exact) override;

    char* data;  // null while capacity is 0
};
