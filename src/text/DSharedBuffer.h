// Reference-counted, copy-on-write text buffer shared by DString handles.
//
// A buffer with one reference may be written in place; any other is copied before a write, so
// writing always goes to a private buffer. While write-locked a buffer is never shared: a new
// reference to it gets a copy. The buffer deletes itself when its last reference goes.
#pragma once

#include <cwchar>

#include "pisnp_export.h"
#include "text/DSyncBuffer.h"

class PISNP_API DSharedBuffer : public DSyncBuffer {
  public:
    // An empty text with room for at least minCapacity bytes (which must be positive).
    explicit DSharedBuffer(int minCapacity);
    // byteLen bytes of s (-1: all of s); charLen only helps size the buffer.
    DSharedBuffer(const char* s, int byteLen, int charLen);
    // len wide characters of s (-1: all of s), converted to multibyte.
    DSharedBuffer(const wchar_t* s, int len, int unused);
    DSharedBuffer(const DSharedBuffer& src);
    ~DSharedBuffer() override;

    // Operations that may replace the buffer give back the one the caller holds from then on.
    DSharedBuffer* getReference();
    void releaseReference();
    DSharedBuffer* lock(int type);
    void unlock(int dirty);
    DSharedBuffer* assign(const char* s, int byteLen, int charLen);
    DSharedBuffer* assign(const wchar_t* s, int len, int unused);

    int getCharLen();
    int getByteLen();
    // Shifts count bytes from byte index by offset bytes (count -1: the rest of the text with
    // its terminator), growing the multibyte array as needed. Only under a write lock.
    void move(int index, int offset, int count);

    // The process's shared empty buffer, made on first use; release 1 drops it (and gives null).
    static DSharedBuffer* getNullBuffer(int release);

  protected:
    int refcount;  // DString handles on this buffer
};
