#include "pisnp/dstring.h"

#if __has_include(<sys/single_threaded.h>)
#include <sys/single_threaded.h>
#define PISNP_SINGLE_THREADED_FLAG 1
#endif

#include <cstdarg>
#include <cstdio>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <utility>

#include "pisnp/strings.h"
#include "text/bufferArray.h"
#include "text/bufferConversion.h"
#include "text/localeFacts.h"

static_assert(sizeof(DString) == 16);

// Gives the string operations below the buffer pointer, the buffer's arrays and its kept lengths.
class DStringEdit {
    static std::atomic_ref<int> refs(DSharedBuffer* b) { return std::atomic_ref<int>(b->refcount); }
    // While the process has one thread no other can hold a reference: counting needs no
    // atomic operation.
    static bool alone() {
#ifdef PISNP_SINGLE_THREADED_FLAG
        return __libc_single_threaded != 0;
#else
        return false;
#endif
    }

  public:
    static DSharedBuffer*& buffer(DString& s) {
        return s.buffer_;
    }
    static DCharBuffer& chars(DString& s) {
        return s.buffer_->charBuf;
    }
    // Whether an edit can carry the kept character count forward: the buffer is not locked and
    // the current locale counts as the kept count does (UTF-8).
    static bool counts(DString& s) {
        return s.buffer_->lockCount == 0 &&
               text_detail::localeFacts().kind == text_detail::LocaleFacts::kUtf8;
    }
    // The kept character count where an edit can carry it forward, else -1.
    static int carriedChars(DString& s) {
        // Another copy of a shared text may be counting into keptChars on its own thread.
        return counts(s)
                   ? std::atomic_ref<int>(s.buffer_->keptChars).load(std::memory_order_relaxed)
                   : -1;
    }
    // After an edit that knows the text's new lengths (-1: not known).
    // The buffer when this string may append to it in place: its own, not locked, its byte
    // length kept, and room for n more bytes. Else null.
    static DSharedBuffer* appendable(DString& s, size_t n) {
        DSharedBuffer* b = s.buffer_;
        // The reference count first: only a buffer no other copy shares has lengths that no
        // other thread may be counting.
        if (refs(b).load(std::memory_order_acquire) != 1 || b->lockCount != 0 ||
            b->charBuf.length < 0)
            return nullptr;
        return static_cast<size_t>(b->charBuf.length) + n < static_cast<size_t>(b->charBuf.capacity)
                   ? b
                   : nullptr;
    }
    // Appends n bytes of s (not the string's own) in place, the buffer being appendable. Short
    // pieces, the common ones, are copied in two overlapping words, which also tell whether the
    // piece is ASCII.
    static void appendInPlace(DSharedBuffer* b, const char* s, size_t n) {
        DCharBuffer& buf = b->charBuf;
        char* end = buf.data + buf.length;
        bool asciiJoint = buf.length == 0 || (end[-1] & 0x80) == 0;
        bool ascii;
        if (n >= 8 && n <= 16) {
            uint64_t head, tail;
            std::memcpy(&head, s, 8);
            std::memcpy(&tail, s + n - 8, 8);
            std::memcpy(end, &head, 8);
            std::memcpy(end + n - 8, &tail, 8);
            end[n] = '\0';
            ascii = ((head | tail) & 0x8080808080808080u) == 0;
        } else {
            std::memcpy(end, s, n + 1);
            ascii = text_detail::isAscii(s, n);
        }
        buf.length += static_cast<int>(n);
        b->keptChars =
            b->keptChars >= 0 && asciiJoint && ascii ? b->keptChars + static_cast<int>(n) : -1;
        b->modified = 1;  // the wide view is made again when asked for
    }
    // A new reference to s's buffer, as DSharedBuffer::getReference, without the call.
    static DSharedBuffer* share(const DString& s) {
        DSharedBuffer* b = s.buffer_;
        if (b->lockCount > 0) return b->getReference();
        if (alone()) {
            ++b->refcount;
        } else {
            refs(b).fetch_add(1, std::memory_order_relaxed);
        }
        return b;
    }
    // Drops s's reference; the last one goes the long way, which deletes the buffer.
    static void drop(DString& s) {
        DSharedBuffer* b = s.buffer_;
        if (alone() && b->refcount > 1) {
            --b->refcount;
        } else {
            b->releaseReference();
        }
    }
    static void settle(DString& s, size_t bytes, int chars) {
        if (s.buffer_->lockCount > 0) return;  // an outer write access is still open
        s.buffer_->charBuf.length = static_cast<int>(bytes);
        s.buffer_->keptChars = chars;
    }
};

namespace {

// Steps over up to n characters; stops at the terminator.
const char* advance(const char* p, int n) {
    for (; n > 0 && *p != '\0'; --n) p = CharAdv(p);
    return p;
}

// Where character i starts (the end for i beyond it). A text with as many characters as bytes
// has each at its own byte; the counts are kept, so that reading a string character by character
// does not walk it from the start every time.
const char* charAddress(DString& s, int i) {
    const char* t = s.getAsString();
    if (i <= 0) return t;
    if (text_detail::localeFacts().kind != text_detail::LocaleFacts::kOther) {
        DSharedBuffer* b = DStringEdit::buffer(s);
        int bytes = b->getByteLen();
        if (b->getCharLen() == bytes) return t + (i < bytes ? i : bytes);
    }
    return advance(t, i);
}

bool isBlank(const char* p, const char* next) {
    return next - p == 1 && IsSpace(*p) != 0;
}

// Appends n bytes of s. s may be part of the string's own text: it is found again by its
// offset once the string holds its private, possibly reallocated, array. The lengths are carried
// forward: an ASCII byte ends a character of its own, so after one the added text counts apart.
void appendBytes(DString& str, const char* s, size_t n) {
    DSharedBuffer* shared = DStringEdit::buffer(str);
    DCharBuffer& own = DStringEdit::chars(str);
    if (DSharedBuffer* b = DStringEdit::appendable(str, n);
        b != nullptr && dbuf::offsetInside(own.data, own.capacity, s) < 0) {
        DStringEdit::appendInPlace(b, s, n);
        return;
    }
    auto used = static_cast<size_t>(shared->getByteLen());
    int chars = DStringEdit::carriedChars(str);
    if (used > 0 && (shared->getConstData()[used - 1] & 0x80) != 0) chars = -1;
    DCharBuffer& before = DStringEdit::chars(str);
    ptrdiff_t inside = dbuf::offsetInside(before.data, before.capacity, s);
    {
        DChar lock(str);
        DCharBuffer& buf = DStringEdit::chars(str);
        buf.grow(static_cast<int>(used + n + 1), 1);
        if (inside >= 0) s = buf.data + inside;
        std::memmove(buf.data + used, s, n);
        buf.data[used + n] = '\0';
    }
    if (chars >= 0) chars += static_cast<int>(StrLenInChar(DStringEdit::chars(str).data + used));
    DStringEdit::settle(str, used + n, chars);
}

// Where the next occurrence of a non-empty `from` starts, at a character boundary at or after p;
// null when there is none.
const char* findFrom(const char* p, const char* from, size_t fromLen) {
    for (; *p != '\0'; p = CharAdv(p)) {
        if (StrnCmp(p, from, fromLen) == 0) return p;
    }
    return nullptr;
}

// Replaces every occurrence of `from` by `to`, left to right, resuming behind each inserted
// text. The new text is built in a fresh array in one pass and then takes the old one's place,
// so the cost follows the text once, however many occurrences there are.
void replaceAll(DString& str, const char* from, const char* to) {
    size_t fromLen = std::strlen(from);
    size_t toLen = std::strlen(to);
    const char* text = str.getAsString();
    auto textLen = static_cast<size_t>(DStringEdit::buffer(str)->getByteLen());
    size_t finalLen = textLen;
    for (const char* p = findFrom(text, from, fromLen); p != nullptr;
         p = findFrom(p + fromLen, from, fromLen)) {
        finalLen = finalLen - fromLen + toLen;
    }
    DCharBuffer fresh;
    fresh.grow(static_cast<int>(finalLen) + 1, 0);
    char* out = fresh.data;
    const char* done = text;
    for (const char* p = findFrom(text, from, fromLen); p != nullptr;
         p = findFrom(done, from, fromLen)) {
        std::memcpy(out, done, static_cast<size_t>(p - done));
        out += p - done;
        std::memcpy(out, to, toLen);
        out += toLen;
        done = p + fromLen;
    }
    std::memcpy(out, done, static_cast<size_t>(text + textLen - done) + 1);
    {
        // The text read above stays alive while the string is made private: a copy that
        // shared it still holds it.
        DChar lock(str);
        DCharBuffer& buf = DStringEdit::chars(str);
        std::swap(buf.data, fresh.data);
        std::swap(buf.capacity, fresh.capacity);
    }
    DStringEdit::settle(str, finalLen, -1);
}

DString formatInto(char* area, size_t size, const char* fmt, va_list args) {
    std::vsnprintf(area, size, fmt != nullptr ? fmt : "", args);
    return DString(area);
}

template <typename T>
DString number(const char* fmt, T value) {
    char text[64];
    std::snprintf(text, sizeof text, fmt, value);
    return DString(text);
}

}  // namespace

// ---- Construction and assignment ----------------------------------------------------------

DString::DString() : buffer_(DSharedBuffer::getNullBuffer(0)->getReference()) {}

DString::DString(int minCapacity) : buffer_(new DSharedBuffer(minCapacity)) {}

DString::DString(const DString& s) : buffer_(DStringEdit::share(s)) {}

DString::DString(const char* s) : buffer_(new DSharedBuffer(s, -1, -1)) {}

DString::DString(const wchar_t* s) : buffer_(new DSharedBuffer(s, -1, 0)) {}

DString::DString(const char* s, int start, int count) : buffer_(nullptr) {
    if (s == nullptr) s = "";
    const char* from = advance(s, start > 0 ? start : 0);
    const char* to = from;
    int chars = 0;
    for (; (count < 0 || chars < count) && *to != '\0'; ++chars) to = CharAdv(to);
    int bytes = static_cast<int>(to - from);
    // Sized by what was taken: a count far beyond the end (left(n) with a large n) must not
    // reserve room for characters that are not there.
    buffer_ = new DSharedBuffer(from, bytes, chars);
    DStringEdit::settle(*this, static_cast<size_t>(bytes), DStringEdit::counts(*this) ? chars : -1);
}

DString::DString(const wchar_t* s, int start, int count) : buffer_(nullptr) {
    if (s == nullptr) s = L"";
    size_t length = std::wcslen(s);
    size_t first = start > 0 ? static_cast<size_t>(start) : 0;
    if (first > length) first = length;
    buffer_ = new DSharedBuffer(s + first, count, 0);
}

DString::DString(DSharedBuffer* buffer)
    : buffer_(buffer != nullptr ? buffer : DSharedBuffer::getNullBuffer(0)->getReference()) {}

DString::~DString() {
    DStringEdit::drop(*this);
}

DString& DString::operator=(const DString& s) {
    if (this != &s) buffer_ = buffer_->assign(s.text(), -1, -1);
    return *this;
}

DString& DString::operator=(const char* s) {
    buffer_ = buffer_->assign(s, -1, -1);
    return *this;
}

void DString::clear() {
    DSharedBuffer* empty = DSharedBuffer::getNullBuffer(0)->getReference();
    buffer_->releaseReference();
    buffer_ = empty;
}

void DString::ensureCapacity(int n) {
    if (DStringEdit::chars(*this).capacity >= n) return;
    int bytes = buffer_->getByteLen();
    int chars = DStringEdit::carriedChars(*this);
    {
        DChar lock(*this);
        DStringEdit::chars(*this).grow(n, 1);
    }
    DStringEdit::settle(*this, static_cast<size_t>(bytes), chars);
}

// ---- Queries --------------------------------------------------------------------------------

int DString::length() {
    return buffer_->getCharLen();
}

int DString::isEmpty() {
    return text()[0] == '\0' ? 1 : 0;
}

const char* DString::getAsString() {
    return text();
}

char DString::charAt(int i) {
    return i < 0 ? '\0' : *charAddress(*this, i);
}

int DString::setCharAt(int i, char c) {
    if (i < 0 || i >= length()) return 0;
    size_t at = static_cast<size_t>(charAddress(*this, i) - text());
    int bytes = buffer_->getByteLen();
    // One ASCII byte for another leaves every character where it was; anything else is
    // counted again when asked.
    int chars = ((text()[at] | c) & 0x80) == 0 ? DStringEdit::carriedChars(*this) : -1;
    {
        DChar lock(*this);
        static_cast<char*>(lock)[at] = c;
    }
    if (c == '\0') {
        DStringEdit::settle(*this, at, -1);
    } else {
        DStringEdit::settle(*this, static_cast<size_t>(bytes), chars);
    }
    return 1;
}

int DString::compareTo(const DString& s) {
    if (buffer_ == s.buffer_) return 0;
    return StrCmp(text(), s.text());
}

int DString::compareNoCase(const DString& s) {
    if (buffer_ == s.buffer_) return 0;
    return StriCmp(text(), s.text());
}

int DString::operator<(const DString& s) {
    return StrCmp(text(), s.text()) < 0 ? 1 : 0;
}

int DString::regionMatches(int start, const DString& s, int sStart, int len) {
    return regionMatches(0, start, s, sStart, len);
}

int DString::regionMatches(int ignoreCase, int start, const DString& s, int sStart, int len) {
    if (start < 0 || sStart < 0) return 0;
    int mine = length();
    int theirs = s.buffer_->getCharLen();
    if (start > mine || sStart > theirs) return 0;
    if (len <= 0) return 1;
    if (len > mine - start || len > theirs - sStart) return 0;
    if (ignoreCase != 0) {
        // The wide views have one element per character, so positions carry over.
        return StrniCmp(wideText() + start, s.wideText() + sStart, static_cast<size_t>(len)) == 0
                   ? 1
                   : 0;
    }
    DString other(s);
    const char* a = charAddress(*this, start);
    const char* aEnd = charAddress(*this, start + len);
    const char* b = charAddress(other, sStart);
    const char* bEnd = charAddress(other, sStart + len);
    return aEnd - a == bEnd - b && StrnCmp(a, b, static_cast<size_t>(aEnd - a)) == 0 ? 1 : 0;
}

int DString::indexOf(const DString& s, int from) {
    const char* needle = s.text();
    size_t needleLen = std::strlen(needle);
    if (needleLen == 0) return -1;
    if (from < 0) from = 0;
    const char* p = advance(text(), from);
    if (*p == '\0') return -1;  // from is at or beyond the end
    for (int i = from; *p != '\0'; p = CharAdv(p), ++i) {
        if (StrnCmp(p, needle, needleLen) == 0) return i;
    }
    return -1;
}

int DString::indexOfNoCase(const DString& s, int from) {
    const wchar_t* needle = s.wideText();
    size_t needleLen = std::wcslen(needle);
    if (needleLen == 0) return -1;
    const wchar_t* hay = wideText();
    size_t hayLen = std::wcslen(hay);
    size_t i = from > 0 ? static_cast<size_t>(from) : 0;
    for (; i < hayLen && needleLen <= hayLen - i; ++i) {
        if (StrniCmp(hay + i, needle, needleLen) == 0) return static_cast<int>(i);
    }
    return -1;
}

int DString::lastIndexOf(const DString& s, int from) {
    const char* needle = s.text();
    size_t needleLen = std::strlen(needle);
    int mine = length();
    int theirs = s.buffer_->getCharLen();
    int last = (from < mine ? from : mine) - theirs;
    int found = -1;
    const char* p = text();
    for (int i = 0; i <= last; ++i, p = CharAdv(p)) {
        if (StrnCmp(p, needle, needleLen) == 0) found = i;
        if (*p == '\0') break;
    }
    return found;
}

int DString::indexOfOneOf(const DString& set, int from) {
    if (from < 0) from = 0;
    const wchar_t* chars = set.wideText();
    const wchar_t* hay = wideText();
    size_t hayLen = std::wcslen(hay);
    if (*chars == L'\0' || static_cast<size_t>(from) >= hayLen) return from;
    for (size_t i = static_cast<size_t>(from); i < hayLen; ++i) {
        if (std::wcschr(chars, hay[i]) != nullptr) return static_cast<int>(i);
    }
    return static_cast<int>(hayLen);
}

int DString::startsWith(const DString& s, int from) {
    if (from < 0 || from > length()) return 0;
    const char* needle = s.text();
    return StrnCmp(charAddress(*this, from), needle, std::strlen(needle)) == 0 ? 1 : 0;
}

int DString::endsWith(const DString& s) {
    int mine = length();
    int theirs = s.buffer_->getCharLen();
    if (theirs > mine) return 0;
    return StrCmp(charAddress(*this, mine - theirs), s.text()) == 0 ? 1 : 0;
}

DString DString::substring(int start, int count) {
    return DString(charAddress(*this, start), 0, count);
}

DString DString::left(int n) {
    if (n <= 0) return DString();
    return DString(text(), 0, n);
}

DString DString::right(int n) {
    if (n <= 0) return DString();
    int mine = length();
    if (n >= mine) return DString(*this);
    return DString(charAddress(*this, mine - n), 0, n);
}

int DString::copyTo(char* buf, int size) {
    if (buf == nullptr || size <= 0) return 0;
    const char* t = text();
    auto bytes = static_cast<size_t>(buffer_->getByteLen());
    if (bytes < static_cast<size_t>(size)) {
        std::memcpy(buf, t, bytes + 1);
        return 1;
    }
    std::memcpy(buf, t, static_cast<size_t>(size) - 1);
    buf[size - 1] = '\0';
    return 0;
}

int DString::copyTo(wchar_t* buf, int size) {
    if (buf == nullptr || size <= 0) return 0;
    const char* t = text();
    dbuf::toWide(buf, static_cast<size_t>(size) - 1, t);
    return length() < size ? 1 : 0;
}

// ---- Modifiers ------------------------------------------------------------------------------

DString& DString::concat(const DString& s) {
    const char* t = s.text();
    if (*t != '\0') appendBytes(*this, t, static_cast<size_t>(s.buffer_->getByteLen()));
    return *this;
}

DString& DString::concat(const char* s) {
    if (s == nullptr || *s == '\0') return *this;
    size_t n = std::strlen(s);
    const DCharBuffer& own = DStringEdit::chars(*this);
    DSharedBuffer* b = DStringEdit::appendable(*this, n);
    if (b != nullptr && dbuf::offsetInside(own.data, own.capacity, s) < 0) {
        DStringEdit::appendInPlace(b, s, n);
    } else {
        appendBytes(*this, s, n);
    }
    return *this;
}

DString& DString::replace(const DString& from, const DString& to) {
    if (indexOf(from, 0) < 0) return *this;
    // Copies share the buffers, and keep the texts as they are even when one of them is this
    // string, which is about to be rewritten in a private buffer.
    DString pattern(from), replacement(to);
    replaceAll(*this, pattern.text(), replacement.text());
    return *this;
}

DString& DString::remove(const DString& s) {
    if (indexOf(s, 0) < 0) return *this;
    DString pattern(s);
    replaceAll(*this, pattern.text(), "");
    return *this;
}

DString& DString::trimLeft() {
    const char* t = text();
    const char* p = t;
    while (*p != '\0') {
        const char* next = CharAdv(p);
        if (!isBlank(p, next)) break;
        p = next;
    }
    if (p == t) return *this;
    int skip = static_cast<int>(p - t);
    int bytes = buffer_->getByteLen();
    // The blanks were characters of one byte each, and what follows them is read as before.
    int chars = DStringEdit::carriedChars(*this);
    {
        DChar lock(*this);
        buffer_->move(skip, -skip, -1);
    }
    DStringEdit::settle(*this, static_cast<size_t>(bytes - skip), chars < 0 ? -1 : chars - skip);
    return *this;
}

DString& DString::trimRight() {
    const char* t = text();
    auto bytes = static_cast<size_t>(buffer_->getByteLen());
    size_t keep = bytes;
    if (text_detail::localeFacts().kind != text_detail::LocaleFacts::kOther) {
        // A trailing ASCII byte is a character of its own: blanks are found from the end. A byte
        // above 0x7F there sends the search the long way.
        while (keep > 0 && (t[keep - 1] & 0x80) == 0 && IsSpace(t[keep - 1]) != 0) --keep;
        if (keep > 0 && (t[keep - 1] & 0x80) != 0) keep = bytes + 1;
    } else {
        keep = bytes + 1;
    }
    if (keep > bytes) {
        keep = 0;
        for (const char* p = t; *p != '\0';) {
            const char* next = CharAdv(p);
            if (!isBlank(p, next)) keep = static_cast<size_t>(next - t);
            p = next;
        }
    }
    if (keep == bytes) return *this;
    int chars = DStringEdit::carriedChars(*this);
    {
        DChar lock(*this);
        static_cast<char*>(lock)[keep] = '\0';
    }
    int removed = static_cast<int>(bytes - keep);
    DStringEdit::settle(*this, keep, chars < 0 ? -1 : chars - removed);
    return *this;
}

DString& DString::trim() {
    trimRight();
    return trimLeft();
}

// Case mapping replaces characters only by characters of the same size: the lengths stay.
DString& DString::toUpper() {
    if (isEmpty() == 0) {
        int bytes = buffer_->getByteLen();
        int chars = DStringEdit::carriedChars(*this);
        {
            DChar lock(*this);
            StrUpper(static_cast<char*>(lock));
        }
        DStringEdit::settle(*this, static_cast<size_t>(bytes), chars);
    }
    return *this;
}

DString& DString::toLower() {
    if (isEmpty() == 0) {
        int bytes = buffer_->getByteLen();
        int chars = DStringEdit::carriedChars(*this);
        {
            DChar lock(*this);
            StrLower(static_cast<char*>(lock));
        }
        DStringEdit::settle(*this, static_cast<size_t>(bytes), chars);
    }
    return *this;
}

DString DString::format(const DString* fmt, ...) {
    static char area[1024];
    va_list args;
    va_start(args, fmt);
    DString result = formatInto(area, sizeof area, fmt != nullptr ? fmt->text() : "", args);
    va_end(args);
    return result;
}

DString DString::format(const char* fmt, ...) {
    static char area[1024];
    va_list args;
    va_start(args, fmt);
    DString result = formatInto(area, sizeof area, fmt, args);
    va_end(args);
    return result;
}

DString DString::valueOf(char c) {
    const char text[2] = {c, '\0'};
    return DString(text);
}

DString DString::valueOf(wchar_t c) {
    DString result;
    {
        DWChar wide(result);
        wchar_t* p = wide;
        p[0] = c;
        p[1] = L'\0';
    }
    return result;
}

DString DString::valueOf(int n) {
    return number("%d", n);
}
DString DString::valueOf(long n) {
    return number("%ld", n);
}
DString DString::valueOf(unsigned long n) {
    return number("%lu", n);
}
DString DString::valueOf(unsigned int n) {
    return number("%u", n);
}
DString DString::valueOf(float x) {
    return number("%g", static_cast<double>(x));
}
DString DString::valueOf(double x) {
    return number("%g", x);
}

// ---- Accessors ------------------------------------------------------------------------------

DChar::DChar(DString& s) : str(s) {
    str.buffer_ = str.buffer_->lock(DSyncBuffer::kMultibyte);
}

DChar::~DChar() {
    str.buffer_->unlock(1);
}

DChar::operator char*() {
    return str.buffer_->getData();
}

DWChar::DWChar(DString& s) : str(s) {
    str.buffer_ = str.buffer_->lock(DSyncBuffer::kWide);
}

DWChar::~DWChar() {
    // Converting the wide text back may run out of memory; the string then keeps its earlier
    // text (a destructor has no way to report it).
    try {
        str.buffer_->unlock(1);
    } catch (const std::bad_alloc&) {
    }
}

DWChar::operator wchar_t*() {
    return str.buffer_->getWData();
}

DCharConst::DCharConst(const DString& s) : str(s) {}

DCharConst::operator const char*() {
    return str.buffer_->getConstData();
}

DWCharConst::DWCharConst(const DString& s) : str(s) {}

DWCharConst::operator const wchar_t*() {
    return str.buffer_->getConstWData();
}
