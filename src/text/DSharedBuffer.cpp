#include "pisnp/buffers.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "pisnp/strings.h"
#include "text/bufferConversion.h"
#include "text/textAssert.h"

static_assert(sizeof(DSharedBuffer) == 80);

namespace {

// The first len wide characters of s (all for -1) as the multibyte text of buf.
void assignWide(DCharBuffer& buf, const wchar_t* s, int len) {
    if (s == nullptr) s = L"";
    size_t chars = len < 0 ? std::wcslen(s) : wcsnlen(s, static_cast<size_t>(len));
    size_t bytes = dbuf::multibyteLength(s, chars);
    buf.grow(static_cast<int>(bytes) + 1, 0);
    dbuf::toMultibyte(buf.data, bytes, s, chars);
}

// Drops a private copy that never got handed out.
struct Discard {
    void operator()(DSharedBuffer* b) const { b->releaseReference(); }
};

DSharedBuffer* nullBuffer = nullptr;

}  // namespace

DSharedBuffer::DSharedBuffer(int minCapacity)
    : DSyncBuffer(minCapacity > 0 ? minCapacity : 1), refcount(1) {
    TEXT_ASSERT(minCapacity > 0, "minCapacity > 0");
}

DSharedBuffer::DSharedBuffer(const char* s, int byteLen, int charLen)
    : DSyncBuffer(std::max(byteLen, charLen) + 1), refcount(1) {
    assign(s, byteLen, charLen);
}

DSharedBuffer::DSharedBuffer(const wchar_t* s, int len, int) : DSyncBuffer(0), refcount(1) {
    assignWide(charBuf, s, len);
}

DSharedBuffer::DSharedBuffer(const DSharedBuffer& src) : DSyncBuffer(src), refcount(1) {}

DSharedBuffer::~DSharedBuffer() {
    TEXT_ASSERT(refcount == 0, "refcount == 0");
}

DSharedBuffer* DSharedBuffer::getReference() {
    if (lockCount > 0) return new DSharedBuffer(*this);
    ++refcount;
    return this;
}

void DSharedBuffer::releaseReference() {
    TEXT_ASSERT(refcount >= 0, "refcount >= 0");
    if (--refcount == 0) delete this;
}

DSharedBuffer* DSharedBuffer::lock(int type) {
    if (refcount == 1) {
        DSyncBuffer::lock(type);
        return this;
    }
    // The private copy must be complete and locked before this reference is let go.
    std::unique_ptr<DSharedBuffer, Discard> copy(new DSharedBuffer(*this));
    copy->DSyncBuffer::lock(type);
    releaseReference();
    return copy.release();
}

void DSharedBuffer::unlock(int) {
    TEXT_ASSERT(refcount == 1, "refcount == 1");
    DSyncBuffer::unlock();
}

DSharedBuffer* DSharedBuffer::assign(const char* s, int byteLen, int) {
    if (refcount != 1) {
        auto* fresh = new DSharedBuffer(s, -1, -1);
        releaseReference();
        return fresh;
    }
    int exact = byteLen != -1 ? 1 : 0;
    if (current == kMultibyte) {
        charBuf.assign(s, byteLen, exact);
    } else {
        wcharBuf.assign(s, byteLen, exact);
    }
    modified = 1;
    return this;
}

DSharedBuffer* DSharedBuffer::assign(const wchar_t* s, int len, int) {
    if (refcount != 1) {
        auto* fresh = new DSharedBuffer(s, -1, 0);
        releaseReference();
        return fresh;
    }
    if (current == kMultibyte) {
        assignWide(charBuf, s, len);
    } else {
        wcharBuf.assign(s, len, len != -1 ? 1 : 0);
    }
    modified = 1;
    return this;
}

int DSharedBuffer::getCharLen() {
    return static_cast<int>(StrLenInChar(getConstData()));
}

int DSharedBuffer::getByteLen() {
    return static_cast<int>(std::strlen(getConstData()));
}

void DSharedBuffer::move(int index, int offset, int count) {
    TEXT_ASSERT(isLocked(), "isLocked ()");
    int byteLen = getByteLen();
    if (count == -1) count = byteLen - index + 1;
    bool inRange = count > 0 && index >= 0 && index + count - 1 <= byteLen;
    TEXT_ASSERT(inRange, "count > 0 && index >= 0 && index + count - 1 <= getByteLen ()");
    TEXT_ASSERT(index + offset >= 0, "index + offset >= 0");
    // Without assertions a bad request is refused rather than let loose on memory.
    if (!inRange || index + offset < 0) return;
    if (offset > 0) charBuf.grow(index + count + offset + 1, 1);
    std::memmove(charBuf.data + index + offset, charBuf.data + index, static_cast<size_t>(count));
}

DSharedBuffer* DSharedBuffer::getNullBuffer(int release) {
    if (release == 1) {
        DSharedBuffer* dropped = nullBuffer;
        nullBuffer = nullptr;
        if (dropped != nullptr) dropped->releaseReference();
        return nullptr;
    }
    if (nullBuffer == nullptr) nullBuffer = new DSharedBuffer(16);
    return nullBuffer;
}
