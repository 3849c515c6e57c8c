// Splitting a line into tokens, plain or with quoting; yes/no words; the lines of option files.
//
// Nothing here keeps state between calls: any thread may read its own text or stream. The
// position pointers and buffers belong to the caller.
#pragma once

#include <cstdio>

#include "pisnp/resultCodes.h"
#include "pisnp_export.h"

// Longest token the quoted reader accepts, in bytes (or wide characters).
inline constexpr int kMaxQuotedToken = 4351;
// GetQuotedToken answers 0, PISNP_RC_BAD_QUOTES or PISNP_RC_TOKEN_TOO_LONG (resultCodes.h).

// Skips white space at *pos and copies the following run of non-blank characters into out
// (at most size - 1 elements, whole multibyte characters only). *pos is left on the character
// that stopped the copy. The wide form tells whether that character is white space.
PISNP_API void GetToken(char** pos, char* out, int size);
PISNP_API bool GetToken(wchar_t** pos, wchar_t* out, int size);

// Reads one token that may be quoted ("two words", 'two words') or hold a quoted value
// (name="two words"). out needs kMaxQuotedToken + 1 elements and is empty after an error.
PISNP_API int GetQuotedToken(char** pos, char* out);
PISNP_API int GetQuotedToken(wchar_t** pos, wchar_t* out);

// yes when word (its first 29 characters, in any case) is one of the yes words (YES, Y, ON,
// TRUE, 1, OUI, SI, JA, 10-4, ...), no for one of the no words (NO, N, OFF, FALSE, 0, NON,
// NEIN, ...), else kToggleUnknown.
inline constexpr int kToggleUnknown = -9999;
PISNP_API int utilParseToggle(const char* word, int yes, int no);

// The next line of an option file that holds something: lines that are blank or whose first
// non-blank character is "*" are skipped. Every line read is counted in *lineNo. The line end
// (a line feed, else a carriage return) is removed. Gives buf, or null at the end of the file.
// The last two arguments are not used.
PISNP_API char* utGetNextLine(char* buf, int size, FILE* stream, int* lineNo, int, int);
// Opens an option file (fopen modes) and sets *lineNo to 0; null when it cannot be opened.
// The last argument is not used.
PISNP_API FILE* utFileOpen(const char* name, const char* mode, int* lineNo, void*);
