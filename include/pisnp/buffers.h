// The buffers behind DString: growable multibyte and wide arrays (DCharBuffer, DWCharBuffer),
// a pair of them kept in step (DSyncBuffer), and the reference-counted, copy-on-write buffer that
// DString handles share (DSharedBuffer). Hosts rarely use them directly; their layout is part of
// DString's.
//
// Arrays come from the checked allocator; when it has no memory the operations throw
// std::bad_alloc and leave the buffer as it was. A buffer is not safe for concurrent use, except
// that references to one may be taken and released on any thread.
#pragma once

#include <cwchar>
#include <cstddef>
#include <new>

#include "pisnp/alloc.h"
#include "pisnp_export.h"

// Growable character arrays behind DString: a multibyte one (DCharBuffer) and a wide one
// (DWCharBuffer). Assigning one kind of buffer to the other converts the text, which is how
// the two views of a string are kept in step.
//
// Arrays come from the checked allocator; when it has no memory the operations throw
// std::bad_alloc and leave the buffer as it was.
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

// Multibyte text array of a string buffer.
class PISNP_API DCharBuffer : public DBuffer {
  public:
    DCharBuffer() : length(0), data(nullptr) {}
    DCharBuffer(const DCharBuffer&) = delete;
    DCharBuffer& operator=(const DCharBuffer&) = delete;
    using DBuffer::operator=;

    ~DCharBuffer() override;
    int isChar() const override;
    void grow(int minCapacity, int keep) override;
    void assign(const char* s, int len, int exact) override;
    // len counts bytes of the multibyte result.
    void assign(const wchar_t* s, int len, int exact) override;

    // Bytes of the text as the buffer's own operations left it; -1 when not known. Writes
    // through data do not change it: the string buffers that own the array keep it true.
    // (It fills the room the base class leaves before data, so the layout is unchanged.)
    int length;
    char* data;  // null while capacity is 0
};

// Wide text array of a string buffer.
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

// A text held in two representations, multibyte and wide, kept in step.
//
// The multibyte text is authoritative except while the buffer is write-locked for the wide
// text; the wide text is made from it on demand and remade only after the multibyte text has
// changed. Write access goes through lock/unlock: the lock picks the representation being
// written, and the last unlock converts wide changes back to multibyte.
//
// Not safe for concurrent use: the lock is a count of open write accesses, not a mutex.
class PISNP_API DSyncBuffer {
  public:
    enum { kMultibyte = 0, kWide = 1 };

    explicit DSyncBuffer(int minCapacity);
    DSyncBuffer(const DSyncBuffer& src);
    DSyncBuffer& operator=(const DSyncBuffer&) = delete;
    virtual ~DSyncBuffer();

    // Brings the representation `type` up to date with the current one, if it may be stale.
    void synchronize(int type);
    void lock(int type);
    void unlock();
    int isLocked();
    // Writable arrays; only under a lock of the matching kind.
    char* getData();
    wchar_t* getWData();
    // Read-only texts, brought up to date first.
    const char* getConstData();
    const wchar_t* getConstWData();

    // Buffers come from the checked allocator; without memory, new throws std::bad_alloc.
    static void* operator new(size_t size) {
        void* p = ARC_MALLOC(size);
        if (p == nullptr) throw std::bad_alloc();
        return p;
    }
    static void operator delete(void* p) noexcept { ARC_FREE(p); }

  protected:
    friend class DStringEdit;

    int current;  // representation being written: kMultibyte, or kWide under a wide lock
    // Characters of the multibyte text as UTF-8 counts them, -1 when not known; like the byte
    // length kept in charBuf, trusted only while the buffer is not write-locked. (It fills the
    // room before charBuf, so the layout is unchanged.)
    int keptChars;
    DCharBuffer charBuf;
    DWCharBuffer wcharBuf;
    int lockCount;
    int modified;  // the representation that is not current may be out of date
};

// Reference-counted, copy-on-write text buffer shared by DString handles.
//
// A buffer with one reference may be written in place; any other is copied before a write, so
// writing always goes to a private buffer. While write-locked a buffer is never shared: a new
// reference to it gets a copy. The buffer deletes itself when its last reference goes.
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
    friend class DStringEdit;

    // DString handles on this buffer; changed atomically, so that copies of one string may live
    // on different threads.
    int refcount;
};
