#include "pisnp/dstring.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "pisnp/strings.h"
#include "text/bufferArray.h"
#include "text/bufferConversion.h"

static_assert(sizeof(DString) == 16);

// Gives the string operations below the buffer pointer and the buffer's arrays.
class DStringEdit {
  public:
    static DSharedBuffer*& buffer(DString& s) { return s.buffer_; }
    static DCharBuffer& chars(DString& s) { return s.buffer_->charBuf; }
};

namespace {

// Steps over up to n characters; stops at the terminator.
const char* advance(const char* p, int n) {
    for (; n > 0 && *p != '\0'; --n) p = CharAdv(p);
    return p;
}

bool isBlank(const char* p, const char* next) {
    return next - p == 1 && IsSpace(*p) != 0;
}

// Appends n bytes of s. s may be part of the string's own text: it is found again by its
// offset once the string holds its private, possibly reallocated, array.
void appendBytes(DString& str, const char* s, size_t n) {
    DCharBuffer& before = DStringEdit::chars(str);
    ptrdiff_t inside = dbuf::offsetInside(before.data, before.capacity, s);
    DChar lock(str);
    DCharBuffer& buf = DStringEdit::chars(str);
    size_t used = std::strlen(buf.data);
    buf.grow(static_cast<int>(used + n + 1), 1);
    if (inside >= 0) s = buf.data + inside;
    std::memmove(buf.data + used, s, n);
    buf.data[used + n] = '\0';
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
// text. Neither text may be the string's own: callers pass texts of copies that keep them.
void replaceAll(DString& str, const char* from, const char* to) {
    size_t fromLen = std::strlen(from);
    size_t toLen = std::strlen(to);
    // The room for the final text is made first, so that once rewriting has begun nothing can
    // fail half-way (the text never gets longer than it ends). A shift asks for one byte more
    // than its result holds.
    size_t finalLen = std::strlen(str.getAsString());
    for (const char* p = findFrom(str.getAsString(), from, fromLen); p != nullptr;
         p = findFrom(p + fromLen, from, fromLen)) {
        finalLen = finalLen - fromLen + toLen;
    }
    DChar lock(str);
    DSharedBuffer* buffer = DStringEdit::buffer(str);
    DStringEdit::chars(str).grow(static_cast<int>(finalLen) + 2, 1);
    size_t pos = 0;
    for (;;) {
        const char* text = DStringEdit::chars(str).data;
        const char* p = findFrom(text + pos, from, fromLen);
        if (p == nullptr) break;
        size_t at = static_cast<size_t>(p - text);
        if (toLen != fromLen) {
            buffer->move(static_cast<int>(at + fromLen),
                         static_cast<int>(toLen) - static_cast<int>(fromLen), -1);
        }
        std::memcpy(DStringEdit::chars(str).data + at, to, toLen);
        pos = at + toLen;
    }
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

DString::DString(const DString& s) : buffer_(s.buffer_->getReference()) {}

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
    buffer_->releaseReference();
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
    DChar lock(*this);
    DStringEdit::chars(*this).grow(n, 1);
}

// ---- Queries --------------------------------------------------------------------------------

int DString::length() {
    return static_cast<int>(StrLenInChar(text()));
}

int DString::isEmpty() {
    return text()[0] == '\0' ? 1 : 0;
}

const char* DString::getAsString() {
    return text();
}

char DString::charAt(int i) {
    return i < 0 ? '\0' : *advance(text(), i);
}

int DString::setCharAt(int i, char c) {
    if (i < 0 || i >= length()) return 0;
    size_t at = static_cast<size_t>(advance(text(), i) - text());
    DChar lock(*this);
    static_cast<char*>(lock)[at] = c;
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
    int theirs = static_cast<int>(StrLenInChar(s.text()));
    if (start > mine || sStart > theirs) return 0;
    if (len <= 0) return 1;
    if (len > mine - start || len > theirs - sStart) return 0;
    if (ignoreCase != 0) {
        // The wide views have one element per character, so positions carry over.
        return StrniCmp(wideText() + start, s.wideText() + sStart, static_cast<size_t>(len)) == 0
                   ? 1
                   : 0;
    }
    const char* a = advance(text(), start);
    const char* aEnd = advance(a, len);
    const char* b = advance(s.text(), sStart);
    const char* bEnd = advance(b, len);
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
    int theirs = static_cast<int>(StrLenInChar(needle));
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
    return StrnCmp(advance(text(), from), needle, std::strlen(needle)) == 0 ? 1 : 0;
}

int DString::endsWith(const DString& s) {
    int mine = length();
    int theirs = static_cast<int>(StrLenInChar(s.text()));
    if (theirs > mine) return 0;
    return StrCmp(advance(text(), mine - theirs), s.text()) == 0 ? 1 : 0;
}

DString DString::substring(int start, int count) {
    return DString(text(), start, count);
}

DString DString::left(int n) {
    if (n <= 0) return DString();
    return DString(text(), 0, n);
}

DString DString::right(int n) {
    if (n <= 0) return DString();
    int mine = length();
    if (n >= mine) return DString(*this);
    return DString(text(), mine - n, n);
}

int DString::copyTo(char* buf, int size) {
    if (buf == nullptr || size <= 0) return 0;
    const char* t = text();
    size_t bytes = std::strlen(t);
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
    return StrLenInChar(t) < static_cast<size_t>(size) ? 1 : 0;
}

// ---- Modifiers ------------------------------------------------------------------------------

DString& DString::concat(const DString& s) {
    const char* t = s.text();
    if (*t != '\0') appendBytes(*this, t, std::strlen(t));
    return *this;
}

DString& DString::concat(const char* s) {
    if (s != nullptr && *s != '\0') appendBytes(*this, s, std::strlen(s));
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
    DChar lock(*this);
    buffer_->move(skip, -skip, -1);
    return *this;
}

DString& DString::trimRight() {
    const char* t = text();
    size_t keep = 0;
    for (const char* p = t; *p != '\0';) {
        const char* next = CharAdv(p);
        if (!isBlank(p, next)) keep = static_cast<size_t>(next - t);
        p = next;
    }
    if (t[keep] == '\0') return *this;
    DChar lock(*this);
    static_cast<char*>(lock)[keep] = '\0';
    return *this;
}

DString& DString::trim() {
    trimRight();
    return trimLeft();
}

DString& DString::toUpper() {
    if (isEmpty() == 0) {
        DChar lock(*this);
        StrUpper(static_cast<char*>(lock));
    }
    return *this;
}

DString& DString::toLower() {
    if (isEmpty() == 0) {
        DChar lock(*this);
        StrLower(static_cast<char*>(lock));
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
