// String and character functions of the runtime, in `char` (locale multibyte) and `wchar_t`
// forms, plus mixed forms that take one text of each kind and convert on the way.
//
// Promises the C string functions do not make: null pointers are tolerated (each function says
// what it gives back), same-kind copies are safe when source and destination overlap, and the
// `char` forms of the searching functions work on characters, not bytes, in any multibyte
// locale. Functions that convert internally use working buffers on the stack, never the heap,
// and cut their texts at kStrMaxConvChars characters. Only the one-text StrTok forms keep state
// between calls (process-wide); everything else is safe on any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cwchar>

#include "pisnp_export.h"

// Longest text, in characters, that the converting functions handle; longer texts are cut.
inline constexpr size_t kStrMaxConvChars = 8447;

// ---- Lengths and widths ----------------------------------------------------------------------

PISNP_API size_t StrLen(const char* s);  // 0 for null
PISNP_API size_t StrLen(const wchar_t* s);
PISNP_API size_t StrLenInByte(const char* s);
PISNP_API size_t StrLenInByte(const wchar_t* s);
// Multibyte characters; an invalid byte counts as one character.
PISNP_API size_t StrLenInChar(const char* s);
PISNP_API size_t StrLenInChar(const wchar_t* s);
// Bytes of the first character (as mblen: 0 at the terminator, -1 when invalid); wide: 1.
PISNP_API int CharSize(const char* s);
PISNP_API int CharSize(const wchar_t* s);
// True when every character is a single byte; true for "", false for null. Wide: false.
PISNP_API bool IsSBCSStr(const char* s);
PISNP_API bool IsSBCSStr(const wchar_t* s);
// The next character, or null at the terminator (or for null). An invalid byte is stepped over
// on its own.
PISNP_API char* CharAdv(const char* s);
PISNP_API wchar_t* CharAdv(const wchar_t* s);
// Display columns of at most n characters; the byte length when the width cannot be had.
PISNP_API int StrWidth(const char* s, size_t n);
// Display columns of the first character; 1 when it cannot be converted or has no width.
PISNP_API int CharWidth(const char* s);

// ---- Copying, concatenation, duplication (destination first) -----------------------------------

// Null for a null argument; overlapping texts are moved.
PISNP_API char* StrCpy(char* d, const char* s);
PISNP_API wchar_t* StrCpy(wchar_t* d, const wchar_t* s);
// Converts at most kStrMaxConvChars characters; an invalid source gives an error text that is no
// longer than the source.
PISNP_API wchar_t* StrCpy(wchar_t* d, const char* s);
// Converts at most kStrMaxConvChars bytes; an invalid source gives the empty text.
PISNP_API char* StrCpy(char* d, const wchar_t* s);

// As strncpy (pads with terminators up to n), overlap-safe.
PISNP_API char* StrnCpy(char* d, const char* s, size_t n);
PISNP_API wchar_t* StrnCpy(wchar_t* d, const wchar_t* s, size_t n);
PISNP_API wchar_t* StrnCpy(wchar_t* d, const char* s, size_t n);  // n characters
PISNP_API char* StrnCpy(char* d, const wchar_t* s, size_t n);     // n bytes

// Null for a null destination; a null source, or one that cannot be converted, leaves the
// destination unchanged.
PISNP_API char* StrCat(char* d, const char* s);
PISNP_API wchar_t* StrCat(wchar_t* d, const wchar_t* s);
PISNP_API wchar_t* StrCat(wchar_t* d, const char* s);
PISNP_API char* StrCat(char* d, const wchar_t* s);
PISNP_API char* StrnCat(char* d, const char* s, size_t n);
PISNP_API wchar_t* StrnCat(wchar_t* d, const wchar_t* s, size_t n);
PISNP_API wchar_t* StrnCat(wchar_t* d, const char* s, size_t n);  // n characters
PISNP_API char* StrnCat(char* d, const wchar_t* s, size_t n);     // n bytes

// A new checked block holding a followed by b; a (a checked block) is released on success.
// Same kind: null when either is null or memory runs out, and a is then kept.
// Mixed: a null or unconvertible b, and a failed allocation, release a and give null.
PISNP_API char* StrApp(char* a, const char* b);
PISNP_API wchar_t* StrApp(wchar_t* a, const wchar_t* b);
PISNP_API wchar_t* StrApp(wchar_t* a, const char* b);
PISNP_API char* StrApp(char* a, const wchar_t* b);

// A checked copy for the caller to free; null for null, on a conversion error or without memory.
// The first argument only picks the kind of the result.
PISNP_API char* StrDup(const char* s);
PISNP_API wchar_t* StrDup(const wchar_t* s);
PISNP_API char* StrDup(char* kind, const char* s);
PISNP_API wchar_t* StrDup(wchar_t* kind, const wchar_t* s);
PISNP_API wchar_t* StrDup(wchar_t* kind, const char* s);
PISNP_API char* StrDup(char* kind, const wchar_t* s);

PISNP_API char* MemMove(char* d, const char* s, size_t n);
PISNP_API wchar_t* MemMove(wchar_t* d, const wchar_t* s, size_t n);

// ---- Comparison: negative, 0 or positive as strcmp --------------------------------------------
//
// A null text sorts before every other text and equals another null (the rules of StriCmp); the
// case-sensitive comparisons follow the same rules rather than fault.

PISNP_API int StrCmp(const char* a, const char* b);
PISNP_API int StrCmp(const wchar_t* a, const wchar_t* b);
PISNP_API int StrCmp(const wchar_t* a, const char* b);  // compared as wide text
PISNP_API int StrCmp(const char* a, const wchar_t* b);  // compared as multibyte text
PISNP_API int StrnCmp(const char* a, const char* b, size_t n);
PISNP_API int StrnCmp(const wchar_t* a, const wchar_t* b, size_t n);
PISNP_API int StrnCmp(const wchar_t* a, const char* b, size_t n);
PISNP_API int StrnCmp(const char* a, const wchar_t* b, size_t n);
// Without regard to case: -1 when a ends first, 1 when b ends first, else the difference of
// the upper-case values at the first mismatch.
PISNP_API int StriCmp(const char* a, const char* b);
PISNP_API int StriCmp(const wchar_t* a, const wchar_t* b);
// As StriCmp over at most n characters; n = 0 compares the whole texts.
PISNP_API int StrniCmp(const char* a, const char* b, size_t n);
PISNP_API int StrniCmp(const wchar_t* a, const wchar_t* b, size_t n);
PISNP_API int StrColl(const char* a, const char* b);
PISNP_API int StrColl(const wchar_t* a, const wchar_t* b);

// ---- Searching: results point into the caller's text -------------------------------------------

// Null when either text is null or empty.
PISNP_API char* StrStr(const char* h, const char* n);
PISNP_API wchar_t* StrStr(const wchar_t* h, const wchar_t* n);
PISNP_API char* StrStri(const char* h, const char* n);
PISNP_API wchar_t* StrStri(const wchar_t* h, const wchar_t* n);
// `char` forms: c is one byte, a character of the locale on its own; null on a conversion error.
PISNP_API char* StrChr(const char* s, int c);
PISNP_API wchar_t* StrChr(const wchar_t* s, wchar_t c);
// rc (when given) becomes 0, or 207 when the text cannot be converted.
PISNP_API char* StrrChr(const char* s, int c, int* rc);
PISNP_API wchar_t* StrrChr(const wchar_t* s, wchar_t c, int* rc);
PISNP_API char* StrrChr(const char* s, int c);
PISNP_API wchar_t* StrrChr(const wchar_t* s, wchar_t c);
PISNP_API char* StriChr(const char* s, int c);
PISNP_API wchar_t* StriChr(const wchar_t* s, wchar_t c);
PISNP_API char* StrpBrk(const char* s, const char* set);
PISNP_API wchar_t* StrpBrk(const wchar_t* s, const wchar_t* set);
// Length of the prefix made of (respectively free of) characters of set; in bytes for `char`.
PISNP_API size_t StrSpn(const char* s, const char* set);
PISNP_API size_t StrSpn(const wchar_t* s, const wchar_t* set);
PISNP_API size_t StrcSpn(const char* s, const char* set);
PISNP_API size_t StrcSpn(const wchar_t* s, const wchar_t* set);
// As strtok, with one process-wide state per kind: not for two threads at once.
PISNP_API char* StrTok(char* s, const char* delim);
PISNP_API wchar_t* StrTok(wchar_t* s, const wchar_t* delim);
// Reentrant: the caller keeps the position in *save.
PISNP_API char* StrTok(char* s, const char* delim, char** save);
PISNP_API wchar_t* StrTok(wchar_t* s, const wchar_t* delim, wchar_t** save);

// ---- Case: in place, giving back the text ------------------------------------------------------

PISNP_API char* StrUpper(char* s);
PISNP_API wchar_t* StrUpper(wchar_t* s);
PISNP_API char* StrLower(char* s);
PISNP_API wchar_t* StrLower(wchar_t* s);
// Multibyte case mapping behind StrUpper/StrLower. A character whose other case would take a
// different number of bytes is left as it is, so the text never grows.
PISNP_API char* psStrUpper(char* s);
PISNP_API char* psStrLower(char* s);
PISNP_API char* StrnUpper(char* s, size_t n);  // the first n characters
PISNP_API wchar_t* StrnUpper(wchar_t* s, size_t n);
// Only a-z (respectively A-Z) change; every other byte or character is left alone.
PISNP_API char* StrUpper7Bit(char* s);
PISNP_API wchar_t* StrUpper7Bit(wchar_t* s);
PISNP_API char* StrLower7Bit(char* s);
PISNP_API wchar_t* StrLower7Bit(wchar_t* s);
// `int` form: the locale's table for -128..255 (either signedness of char); other values as given.
PISNP_API int ToUpper(int c);
PISNP_API wchar_t ToUpper(wchar_t c);
PISNP_API int ToLower(int c);
PISNP_API wchar_t ToLower(wchar_t c);
// True when no element changes under ToLower (ToUpper); true for null and "".
PISNP_API bool IsStrLower(const char* s);
PISNP_API bool IsStrLower(const wchar_t* s);
PISNP_API bool IsStrUpper(const char* s);
PISNP_API bool IsStrUpper(const wchar_t* s);

// ---- Character classes: non-zero when c belongs ------------------------------------------------

PISNP_API int IsSpace(char c);
PISNP_API int IsSpace(wchar_t c);
PISNP_API int IsAlpha(char c);
PISNP_API int IsAlpha(wchar_t c);
PISNP_API int IsLower(char c);
PISNP_API int IsLower(wchar_t c);
PISNP_API int IsUpper(char c);
PISNP_API int IsUpper(wchar_t c);
PISNP_API int IsPrint(char c);
PISNP_API int IsPrint(wchar_t c);
PISNP_API int IsAlnum(char c);
PISNP_API int IsAlnum(wchar_t c);
PISNP_API int IsCntrl(char c);
PISNP_API int IsCntrl(wchar_t c);
PISNP_API int IsGraph(char c);
PISNP_API int IsGraph(wchar_t c);
PISNP_API int IsDigit(char c);  // 0-9 only, whatever the locale
PISNP_API int IsDigit(wchar_t c);

// ---- Single characters -------------------------------------------------------------------------

// Bytes stored in out (room for MB_CUR_MAX); on failure out[0] = 0 and -1.
PISNP_API int CharConv(char* out, wchar_t in);
// One byte as a character of its own; on failure *out = 0 and -1.
PISNP_API int CharConv(wchar_t* out, char in);
// The first character of a multibyte text: its byte count; on failure *out = 0 and -1.
PISNP_API int CharConv(wchar_t* out, const char* in);
PISNP_API int CharConv(char* out, char in);  // copies; 1
PISNP_API int CharConv(wchar_t* out, wchar_t in);

// ---- Numbers (as strtol and companions) -------------------------------------------------------

PISNP_API long StrToL(const char* s, char** end, int base);
PISNP_API long StrToL(const wchar_t* s, wchar_t** end, int base);
PISNP_API unsigned long StrToUl(const char* s, char** end, int base);
PISNP_API unsigned long StrToUl(const wchar_t* s, wchar_t** end, int base);
PISNP_API long long StrToLL(const char* s, char** end, int base);
PISNP_API long long StrToLL(const wchar_t* s, wchar_t** end, int base);
PISNP_API unsigned long long StrToUll(const char* s, char** end, int base);
PISNP_API unsigned long long StrToUll(const wchar_t* s, wchar_t** end, int base);
PISNP_API double StrToD(const char* s, char** end);
PISNP_API double StrToD(const wchar_t* s, wchar_t** end);
PISNP_API unsigned long psStrToUl(const char* s, char** end, int base);
PISNP_API unsigned long psStrToUl(const wchar_t* s, wchar_t** end, int base);
PISNP_API long long psStrToLL(const char* s, char** end, int base);
PISNP_API long long psStrToLL(const wchar_t* s, wchar_t** end, int base);
PISNP_API unsigned long long psStrToUll(const char* s, char** end, int base);
PISNP_API unsigned long long psStrToUll(const wchar_t* s, wchar_t** end, int base);

// ---- Other ------------------------------------------------------------------------------------

// Texts below this length have every `from` replaced by `to`; longer ones are only cut here.
inline constexpr size_t kReplaceCharLimit = 4351;
PISNP_API char* ReplaceChar(char* s, char from, char to);
PISNP_API wchar_t* ReplaceChar(wchar_t* s, wchar_t from, wchar_t to);
// Two upper-case hex digits per byte and a terminator (nothing at all for n = 0). Gives out, or
// null for a null argument or, in the wide form, without memory.
PISNP_API char* hex2String(char* out, const unsigned char* bytes, size_t n);
PISNP_API wchar_t* hex2String(wchar_t* out, const unsigned char* bytes, size_t n);
// Not supported on this platform: always -1.
PISNP_API int cvtFromWide(char* out, const wchar_t* in, size_t outSize);
PISNP_API int cvtToWide(wchar_t* out, const char* in, size_t outSize);

// ---- Byte order: most significant byte first, whatever the machine ------------------------------

PISNP_API void SetTwo(void* p, uint16_t v);
PISNP_API uint16_t GetTwo(const void* p);
PISNP_API void SetFour(void* p, uint32_t v);
PISNP_API uint32_t GetFour(const void* p);
PISNP_API void SetEight(void* p, uint64_t v);
PISNP_API uint64_t GetEight(const void* p);

// How raw bytes are printed as text.
enum CharForm {
    cfEbcdic = 0,      // translated from EBCDIC, printable characters as themselves, others "."
    cfPrintable = 1,   // printable characters as themselves, others "."
    cfHex = 2,         // two upper-case hexadecimal digits per byte
    cfHexGrouped = 3,  // as cfHex, a blank before every fourth byte, a line feed every 32 bytes
    cfAuto = 4,        // cfPrintable for single-byte text, else cfHex
};

// EBCDIC to the client's single-byte code set, as cfEbcdic and the server's code set 22
// (codesets.h) translate it.
PISNP_API extern const unsigned char ebcdictoascii[256];

// Prints count bytes to stream in the given form (nothing for a null stream).
PISNP_API void PrintStr(FILE* stream, unsigned char* data, int count, CharForm form);
// Writes the same characters into buf and terminates them. buf needs 2 bytes a byte, plus the
// separators of cfHexGrouped (a blank every 4 bytes, a line feed every 32), plus 1.
PISNP_API void PrintStrToBuf(char* buf, unsigned char* data, int count, CharForm form);
