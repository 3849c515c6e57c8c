#include "pisnp/buffers.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

#include "pisnp/strings.h"
#include "text/bufferConversion.h"
#include "text/localeFacts.h"
#include "text/textAssert.h"

static_assert(sizeof(DSharedBuffer) == 80);

namespace {

// The first len wide characters of s (all for -1) as the multibyte text of buf.
void assignWide(DCharBuffer& buf, const wchar_t* s, int len) {
    if (s == nullptr) s = L"";
    size_t chars = len < 0 ? std::wcslen(s) : wcsnlen(s, static_cast<size_t>(len));
    size_t bytes = dbuf::multibyteLength(s, chars);
    buf.grow(static_cast<int>(bytes) + 1, 0);
    buf.length = static_cast<int>(dbuf::toMultibyte(buf.data, bytes, s, chars));
}

// A kept length, counted first where it is not known. Copies of a string on two threads may
// both count it at once: they store the same number, atomically.
template <typename Count>
int keep(int& kept, Count count) {
    std::atomic_ref<int> value(kept);
    int n = value.load(std::memory_order_relaxed);
    if (n < 0) {
        n = static_cast<int>(count());
        value.store(n, std::memory_order_relaxed);
    }
    return n;
}

// Drops a private copy that never got handed out.
struct Discard {
    void operator()(DSharedBuffer* b) const { b->releaseReference(); }
};

// The process's shared empty buffer; strings on any thread take references to it.
std::atomic<DSharedBuffer*> nullBuffer{nullptr};

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
    keptChars = -1;
    assignWide(charBuf, s, len);
}

DSharedBuffer::DSharedBuffer(const DSharedBuffer& src) : DSyncBuffer(src), refcount(1) {}

DSharedBuffer::~DSharedBuffer() {
    TEXT_ASSERT(refcount == 0, "refcount == 0");
}

DSharedBuffer* DSharedBuffer::getReference() {
    if (lockCount > 0) return new DSharedBuffer(*this);
    std::atomic_ref<int>(refcount).fetch_add(1, std::memory_order_relaxed);
    return this;
}

void DSharedBuffer::releaseReference() {
    std::atomic_ref<int> count(refcount);
    TEXT_ASSERT(count.load(std::memory_order_relaxed) >= 0, "refcount >= 0");
    // The last holder is alone with the buffer: nobody can take a reference any more.
    if (count.load(std::memory_order_acquire) == 1 ||
        count.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        refcount = 0;
        delete this;
    }
}

DSharedBuffer* DSharedBuffer::lock(int type) {
    if (std::atomic_ref<int>(refcount).load(std::memory_order_acquire) == 1) {
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
    if (std::atomic_ref<int>(refcount).load(std::memory_order_acquire) != 1) {
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
    keptChars = -1;
    modified = 1;
    return this;
}

DSharedBuffer* DSharedBuffer::assign(const wchar_t* s, int len, int) {
    if (std::atomic_ref<int>(refcount).load(std::memory_order_acquire) != 1) {
        auto* fresh = new DSharedBuffer(s, -1, 0);
        releaseReference();
        return fresh;
    }
    if (current == kMultibyte) {
        assignWide(charBuf, s, len);
    } else {
        wcharBuf.assign(s, len, len != -1 ? 1 : 0);
    }
    keptChars = -1;
    modified = 1;
    return this;
}

// Both lengths are counted once and kept until the text changes; while the buffer is locked
// for writing they are counted afresh, since the text may change at any moment. Characters are
// kept as UTF-8 counts them: a single-byte locale has as many as bytes, and other multibyte
// locales count every time.
int DSharedBuffer::getCharLen() {
    const text_detail::LocaleFacts& facts = text_detail::localeFacts();
    if (facts.kind == text_detail::LocaleFacts::kSingleByte) return getByteLen();
    const char* text = getConstData();
    if (facts.kind != text_detail::LocaleFacts::kUtf8 || lockCount > 0) {
        return static_cast<int>(StrLenInChar(text));
    }
    return keep(keptChars, [text] { return StrLenInChar(text); });
}

int DSharedBuffer::getByteLen() {
    const char* text = getConstData();
    if (lockCount > 0) return static_cast<int>(std::strlen(text));
    return keep(charBuf.length, [text] { return std::strlen(text); });
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
        DSharedBuffer* dropped = nullBuffer.exchange(nullptr, std::memory_order_acq_rel);
        if (dropped != nullptr) dropped->releaseReference();
        return nullptr;
    }
    DSharedBuffer* current = nullBuffer.load(std::memory_order_acquire);
    if (current != nullptr) return current;
    // Two threads may race to make it; the loser drops its own.
    auto* made = new DSharedBuffer(16);
    if (nullBuffer.compare_exchange_strong(current, made, std::memory_order_acq_rel)) return made;
    made->releaseReference();
    return current;
}
