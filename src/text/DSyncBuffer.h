// A text held in two representations, multibyte and wide, kept in step.
//
// The multibyte text is authoritative except while the buffer is write-locked for the wide
// text; the wide text is made from it on demand and remade only after the multibyte text has
// changed. Write access goes through lock/unlock: the lock picks the representation being
// written, and the last unlock converts wide changes back to multibyte.
//
// Not safe for concurrent use: the lock is a count of open write accesses, not a mutex.
#pragma once

#include <cstddef>
#include <cwchar>
#include <new>

#include "mem/checkedAlloc.h"
#include "pisnp_export.h"
#include "text/DCharBuffer.h"
#include "text/DWCharBuffer.h"

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
    DCharBuffer charBuf;
    DWCharBuffer wcharBuf;
    int lockCount;
    int modified;  // the representation that is not current may be out of date
};
