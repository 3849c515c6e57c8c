// DString: the library's string class, a handle onto a reference-counted, copy-on-write text.
//
// Copies share one buffer until one of them writes; every write goes to a private buffer, so
// a copy never sees the other's changes. The text is kept in the locale's multibyte character
// set, and a wide view is made on demand and kept in step with it. Positions, counts and
// lengths are counted in characters of the current locale: a multibyte character counts once,
// a byte that does not start a valid character counts as one.
//
// Memory for texts comes from the checked allocator; when it runs out, the operation throws
// std::bad_alloc and the string keeps its earlier text.
//
// A string is not safe for concurrent use, but copies of one string may be made, read, written
// and destroyed on different threads: they share the text only until one of them writes, and the
// count of references is changed atomically. The exception is the wide view, which a shared
// buffer makes when it is first asked for: ask for it only of a string whose text no other
// thread is using at the time. The format operations share a fixed area each.
//
// Lengths in bytes and characters are kept with the text, so that appending, and reading a
// string character by character, cost in proportion to the work, not to the whole text.
#pragma once

#include <cstddef>
#include <cwchar>
#include <new>

#include "pisnp/alloc.h"
#include "pisnp/buffers.h"
#include "pisnp_export.h"

class PISNP_API DString {
  public:
    DString();
    explicit DString(int minCapacity);  // empty, with room for at least minCapacity bytes (> 0)
    DString(const DString& s);          // shares s's buffer
    DString(const char* s);
    DString(const wchar_t* s);
    // count characters of s from character start; count -1, or beyond the end, takes the rest.
    DString(const char* s, int start, int count);
    // count wide characters from s + start (-1: the rest), converted.
    DString(const wchar_t* s, int start, int count);
    explicit DString(DSharedBuffer* buffer);  // adopts the buffer with its reference
    virtual ~DString();

    // Copies the text; the two strings do not share a buffer afterwards.
    DString& operator=(const DString& s);
    DString& operator=(const char* s);
    void clear();
    void ensureCapacity(int n);  // bytes

    int length();
    int isEmpty();
    const char* getAsString();
    char charAt(int i);  // first byte of character i; 0 outside the text
    int setCharAt(int i, char c);
    int compareTo(const DString& s);
    int compareNoCase(const DString& s);
    int operator<(const DString& s);
    int regionMatches(int start, const DString& s, int sStart, int len);
    int regionMatches(int ignoreCase, int start, const DString& s, int sStart, int len);
    int indexOf(const DString& s, int from = 0);
    int indexOfNoCase(const DString& s, int from = 0);
    int lastIndexOf(const DString& s, int from = 0x7fffffff);
    int indexOfOneOf(const DString& set, int from = 0);
    int startsWith(const DString& s, int from = 0);
    int endsWith(const DString& s);
    DString substring(int start, int count = -1);
    DString left(int n);  // a negative count gives the empty text
    DString right(int n);
    // 1 when the whole text fitted, 0 when it was cut to size - 1 elements.
    int copyTo(char* buf, int size);
    int copyTo(wchar_t* buf, int size);

    DString& concat(const DString& s);
    DString& concat(const char* s);
    DString& replace(const DString& from, const DString& to);
    DString& remove(const DString& s);
    DString& trimLeft();
    DString& trimRight();
    DString& trim();
    DString& toUpper();
    DString& toLower();

    // The result must stay below 1024 bytes; longer results are cut there.
    static DString format(const DString* fmt, ...);
    static DString format(const char* fmt, ...);
    static DString valueOf(char c);
    static DString valueOf(wchar_t c);
    static DString valueOf(int n);
    static DString valueOf(long n);
    static DString valueOf(unsigned long n);
    static DString valueOf(unsigned int n);
    static DString valueOf(float x);
    static DString valueOf(double x);

    static void* operator new(size_t size) {
        void* p = ARC_MALLOC(size);
        if (p == nullptr) throw std::bad_alloc();
        return p;
    }
    static void operator delete(void* p) noexcept { ARC_FREE(p); }

  private:
    friend class DChar;
    friend class DWChar;
    friend class DCharConst;
    friend class DWCharConst;
    friend class DStringEdit;

    const char* text() const { return buffer_->getConstData(); }
    const wchar_t* wideText() const { return buffer_->getConstWData(); }

    DSharedBuffer* buffer_;
};

// Write access to a string's multibyte array for the accessor's lifetime. The array is the
// string's own (a shared buffer is copied first); its size is the capacity made sure of with
// ensureCapacity.
class PISNP_API DChar {
  public:
    explicit DChar(DString& s);
    DChar(const DChar&) = delete;
    DChar& operator=(const DChar&) = delete;
    ~DChar();
    operator char*();

  private:
    DString& str;
};

// Write access to a string's wide view; when the accessor ends, the wide text becomes the
// string's text.
class PISNP_API DWChar {
  public:
    explicit DWChar(DString& s);
    DWChar(const DWChar&) = delete;
    DWChar& operator=(const DWChar&) = delete;
    ~DWChar();
    operator wchar_t*();

  private:
    DString& str;
};

// Read-only views of a string as it was when the view was made.
class PISNP_API DCharConst {
  public:
    explicit DCharConst(const DString& s);
    operator const char*();

  private:
    DString str;
};

class PISNP_API DWCharConst {
  public:
    explicit DWCharConst(const DString& s);
    operator const wchar_t*();

  private:
    DString str;
};
