// Conversions between the multibyte and the wide form of a string buffer; not exported.
//
// Unlike mbstowcs and wcstombs these never fail and never split a character: every multibyte
// character, and every byte that does not start one, becomes exactly one wide character (an
// invalid byte becomes '?'), and a wide character without a multibyte form becomes '?'. So a
// text has as many wide characters as it has characters in the locale, which is what lets
// positions be counted on either form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cwchar>

namespace dbuf {

// Characters of a multibyte text (an invalid byte counting as one).
size_t charCount(const char* s);
// Bytes the multibyte form of (at most maxChars characters of) s takes, without terminator.
size_t multibyteLength(const wchar_t* s, size_t maxChars = SIZE_MAX);
// Converts whole characters of s, at most maxChars of them and no more than maxBytes bytes,
// into out (which holds maxBytes + 1), and terminates. Returns the bytes written.
size_t toMultibyte(char* out, size_t maxBytes, const wchar_t* s, size_t maxChars = SIZE_MAX);
// Converts at most maxChars characters of s into out (which holds maxChars + 1), and
// terminates. Returns the wide characters written.
size_t toWide(wchar_t* out, size_t maxChars, const char* s);

}  // namespace dbuf
