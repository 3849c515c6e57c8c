// Growing output buffers of composed messages, 8-bit and wide.
#include <climits>
#include <cstring>
#include <cwchar>

#include "mem/checkedAlloc.h"
#include "pisnp/messages.h"

namespace {

constexpr unsigned long kStep = 8192;
constexpr unsigned long kWide = sizeof(wchar_t);

unsigned long countOf(const char* text, unsigned long n) {
    return n != 0 ? strnlen(text, n) : std::strlen(text);
}

unsigned long countOf(const wchar_t* text, unsigned long n) {
    return n != 0 ? wcsnlen(text, n) : std::wcslen(text);
}

}  // namespace

nlsBuffer::nlsBuffer() : buffer_(nullptr), capacity_(0), length_(0) {}

nlsBuffer::nlsBuffer(unsigned int kb) : nlsBuffer() {
    unsigned long size = (kb > INIT_SIZE_KB ? kb : INIT_SIZE_KB);
    buffer_ = ARC_CALLOC(size, 1024);
    if (buffer_ != nullptr) capacity_ = size;
}

nlsBuffer::~nlsBuffer() {
    if (buffer_ != nullptr) ARC_FREE(buffer_);
    buffer_ = nullptr;
}

void* nlsBuffer::getBuffer() {
    return buffer_;
}

unsigned long nlsBuffer::getMsgLen() {
    return length_;
}

void nlsBuffer::checkBuffer(unsigned long needed) {
    if (capacity_ * 1024 >= needed) return;
    unsigned long size = (needed / kStep + 1) * kStep;
    void* grown = ARC_REALLOC(buffer_, size);
    if (grown == nullptr) {
        if (buffer_ != nullptr) ARC_FREE(buffer_);
        buffer_ = nullptr;
        capacity_ = 0;
        length_ = 0;
        return;
    }
    buffer_ = grown;
    capacity_ = size / 1024;
}

bool nlsCharBuffer::isChar() const {
    return true;
}

unsigned long nlsCharBuffer::addToBuffer(char* text, unsigned long n) {
    n = countOf(text, n);
    checkBuffer(length_ + 1 + n);
    if (buffer_ == nullptr) return length_ = 0;
    char* end = static_cast<char*>(buffer_) + length_;
    std::memcpy(end, text, n);
    end[n] = '\0';
    return length_ = std::strlen(static_cast<char*>(buffer_));
}

unsigned long nlsCharBuffer::addToBuffer(wchar_t* text, unsigned long n) {
    n = countOf(text, n);
    checkBuffer(length_ + (n + 1) * kWide);
    if (buffer_ == nullptr) return length_ = 0;
    char* out = static_cast<char*>(buffer_) + length_;
    char* limit = static_cast<char*>(buffer_) + capacity_ * 1024 - 1;
    std::mbstate_t state{};
    char one[MB_LEN_MAX];
    // A character without a multibyte form ends the text there.
    for (unsigned long i = 0; i < n; ++i) {
        size_t k = std::wcrtomb(one, text[i], &state);
        if (k == static_cast<size_t>(-1) || out + k > limit) break;
        std::memcpy(out, one, k);
        out += k;
    }
    *out = '\0';
    return length_ = std::strlen(static_cast<char*>(buffer_));
}

bool nlsWcharBuffer::isChar() const {
    return false;
}

unsigned long nlsWcharBuffer::addToBuffer(char* text, unsigned long n) {
    n = countOf(text, n);
    checkBuffer(length_ + (n + 1) * kWide);
    if (buffer_ == nullptr) return length_ = 0;
    wchar_t* out = static_cast<wchar_t*>(buffer_) + length_ / kWide;
    std::mbstate_t state{};
    unsigned long used = 0;
    // Never more characters than bytes, so the room asked for suffices; an invalid sequence
    // ends the text there.
    while (used < n) {
        size_t k = std::mbrtowc(out, text + used, n - used, &state);
        if (k == 0 || k == static_cast<size_t>(-1) || k == static_cast<size_t>(-2)) break;
        used += k;
        ++out;
    }
    *out = L'\0';
    return length_ = std::wcslen(static_cast<wchar_t*>(buffer_)) * kWide;
}

unsigned long nlsWcharBuffer::addToBuffer(wchar_t* text, unsigned long n) {
    n = countOf(text, n);
    checkBuffer(length_ + (n + 1) * kWide);
    if (buffer_ == nullptr) return length_ = 0;
    wchar_t* end = static_cast<wchar_t*>(buffer_) + length_ / kWide;
    std::wmemcpy(end, text, n);
    end[n] = L'\0';
    return length_ = std::wcslen(static_cast<wchar_t*>(buffer_)) * kWide;
}
