// Wildcard matching of names against patterns, and recognition of abbreviated keywords.
//
// Both keep no state and may be called from any thread. Texts are in the locale's multibyte
// character set; patterns match character by character, not byte by byte.
#pragma once

#include "pisnp_export.h"

// 1 when text (textLen bytes) matches pattern (patLen bytes), else 0. anyString in the pattern
// stands for any run of characters, the empty one included; anyChar for exactly one character
// (the callers pass '*' and '?'). A pattern character counts as a wildcard when its low 8 bits
// are the wildcard's byte. ignoreCase non-zero compares characters by their upper case. Nothing
// else is special: no brackets, no escapes. Text that is not valid in the locale, and running
// out of memory, give 0 (unless text and pattern are the very same bytes).
PISNP_API int Match(const char* text, int textLen, const char* pattern, int patLen, char anyString,
                    char anyChar, int ignoreCase);

// True when abbr abbreviates word: abbr is not empty, not longer than word, and equals the
// start of word over its own length but at least minLen characters (so an abbreviation shorter
// than minLen is accepted only as the whole word). Case matters.
PISNP_API bool Abbrev(const char* abbr, const char* word, int minLen);
PISNP_API bool Abbrev(const wchar_t* abbr, const wchar_t* word, int minLen);
