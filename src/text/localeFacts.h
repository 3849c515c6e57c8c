// What the current locale's character set allows the string functions to skip; not exported.
//
// The `char` forms of the searching, comparing and stepping functions work on characters. Where
// every byte they look at is a character of its own (any byte of a single-byte locale whose bytes
// are all characters, an ASCII byte in UTF-8) they may work on the bytes directly and give the
// same results, much faster. Locales whose multibyte characters can contain bytes that look like
// ASCII (Shift-JIS, Big5) never qualify.
#pragma once

#include <cstddef>

namespace text_detail {

struct LocaleFacts {
    enum Kind { kSingleByte, kUtf8, kOther };
    Kind kind;
    // Single-byte: every byte 1..255 is a character, and no two of them are the same character.
    bool bytesAreChars;
    // Single-byte: no two bytes that are characters are the same character.
    bool validBytesDistinct;
    // The wide case functions and the byte tables map A-Z and a-z as ASCII does and leave every
    // other byte below 0x80 alone.
    bool asciiFoldsPlainly;
    // The byte tables leave every byte above 0x7F alone.
    bool highBytesUnfolded;

    // An ASCII byte at a character boundary is a character of its own.
    bool asciiIsChar() const { return kind != kOther; }
};

// Facts of the calling thread's LC_CTYPE, worked out once per locale and thread.
const LocaleFacts& localeFacts();

namespace testing {
// While set, localeFacts() allows no shortcut on the calling thread: tests run both paths.
extern thread_local bool characterPathOnly;
}  // namespace testing

// True when none of the n bytes at s is above 0x7F.
bool isAscii(const char* s, size_t n);

// True when each of the n bytes at s is a character of its own and converts: the byte search is
// then the character search.
inline bool plainText(const LocaleFacts& facts, const char* s, size_t n) {
    return facts.bytesAreChars || (facts.asciiIsChar() && isAscii(s, n));
}

// True when the byte c is a character of its own wherever it stands in a text.
inline bool plainByte(const LocaleFacts& facts, int c) {
    return (c & 0x80) == 0 ? facts.asciiIsChar() : facts.bytesAreChars;
}

}  // namespace text_detail
