// Splitting a line into tokens, plain or with quoting.
#pragma once

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
