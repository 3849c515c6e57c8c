// Growable character arrays behind DString: a multibyte one (DCharBuffer) and a wide one
// (DWCharBuffer). Assigning one kind of buffer to the other converts the text, which is how
// the two views of a string are kept in step.
//
// Arrays come from the checked allocator; when it has no memory the operations throw
// std::bad_alloc and leave the buffer as it was.
#pragma once

#include <cwchar>

#include "pisnp_export.h"

class PISNP_API DBuffer {
  public:
    DBuffer() : capacity(0) {}
    DBuffer(const DBuffer&) = delete;  // a copy is made with operator=, which converts

    // The order of the virtual operations is part of the interface.
    virtual ~DBuffer();
    virtual int isChar() const = 0;
    // Makes room for at least minCapacity elements; with keep the old elements stay.
    virtual void grow(int minCapacity, int keep) = 0;
    // Sets the text. len -1 means all of s; without exact, len is only a lower bound for the
    // room made. A null s is taken as the empty text.
    virtual void assign(const char* s, int len, int exact) = 0;
    virtual void assign(const wchar_t* s, int len, int exact) = 0;

    // Takes over src's text, converting it when src is of the other kind.
    DBuffer& operator=(const DBuffer& src);
    // 16 for small requests, else the next power of two.
    int calcNewCapacity(int n);

    int capacity;  // elements in the array; 0 while there is none
};
