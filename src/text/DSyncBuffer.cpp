#include "pisnp/buffers.h"

#include <atomic>

#include "text/textAssert.h"

// Hosts built elsewhere rely on this layout.
static_assert(sizeof(DCharBuffer) == 24 && sizeof(DWCharBuffer) == 24);
static_assert(sizeof(DSyncBuffer) == 72);

DSyncBuffer::DSyncBuffer(int minCapacity)
    : current(kMultibyte), keptChars(0), lockCount(0), modified(1) {
    if (minCapacity > 0) charBuf.grow(minCapacity, 0);
}

// A shared buffer may be copied on one thread while another counts its characters into
// keptChars (atomically, see DSharedBuffer.cpp), so the count is read the same way here.
DSyncBuffer::DSyncBuffer(const DSyncBuffer& src)
    : current(kMultibyte),
      keptChars(src.lockCount == 0 ? std::atomic_ref<int>(const_cast<int&>(src.keptChars))
                                         .load(std::memory_order_relaxed)
                                   : -1),
      lockCount(0),
      modified(1) {
    if (src.charBuf.capacity > 0) static_cast<DBuffer&>(charBuf) = src.charBuf;
    if (src.wcharBuf.capacity > 0) static_cast<DBuffer&>(wcharBuf) = src.wcharBuf;
}

DSyncBuffer::~DSyncBuffer() = default;

void DSyncBuffer::synchronize(int type) {
    if (current == type || (lockCount == 0 && modified == 0)) return;
    // A failed conversion throws before either array changes, so nothing is marked done.
    if (current == kMultibyte) {
        wcharBuf = charBuf;
    } else {
        keptChars = -1;
        charBuf = wcharBuf;
    }
    modified = 0;
}

void DSyncBuffer::lock(int type) {
    if (lockCount == 0) {
        synchronize(type);  // may throw; the buffer is then still unlocked
        current = type;
    } else {
        TEXT_ASSERT(current == type, "current == type");
    }
    ++lockCount;
}

void DSyncBuffer::unlock() {
    if (--lockCount > 0) return;
    modified = 1;
    // Whatever was written through the arrays is not counted yet.
    keptChars = -1;
    charBuf.length = -1;
    // However the conversion below ends, the buffer leaves the lock with the multibyte text
    // authoritative; if converting wide changes back runs out of memory they are lost and the
    // earlier multibyte text stands.
    struct BackToMultibyte {
        DSyncBuffer* buffer;
        ~BackToMultibyte() { buffer->current = kMultibyte; }
    } reset{this};
    synchronize(kMultibyte);
}

int DSyncBuffer::isLocked() {
    return lockCount > 0 ? 1 : 0;
}

char* DSyncBuffer::getData() {
    TEXT_ASSERT(isLocked() && current == kMultibyte, "isLocked () && current == 0");
    return charBuf.data;
}

wchar_t* DSyncBuffer::getWData() {
    TEXT_ASSERT(isLocked() && current == kWide, "isLocked () && current == 1");
    return wcharBuf.data;
}

const char* DSyncBuffer::getConstData() {
    synchronize(kMultibyte);
    return charBuf.data != nullptr ? charBuf.data : "";
}

const wchar_t* DSyncBuffer::getConstWData() {
    synchronize(kWide);
    return wcharBuf.data != nullptr ? wcharBuf.data : L"";
}
