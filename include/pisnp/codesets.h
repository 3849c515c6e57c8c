// Code-set conversion: the process's converters between the locale's code set, UTF-8 and UCS-2,
// wide text (4-byte wchar_t), four single-byte code-page tables, and the in-place byte-order and
// EBCDIC conversions of text exchanged with a server.
//
// Message catalogs hold UTF-8; psUTF8ToLocal turns their texts into the local code set. The
// converters are opened once, at message system start-up (newNlsGlobalObject), before threads use
// messages, and shared afterwards; psUTF8ToLocal is called with the message system's mutex held.
// Every other function here keeps no state and may be called from any thread. Output buffers
// belong to the caller.
#pragma once

#include <iconv.h>

#include <cstddef>

#include "pisnp/strings.h"
#include "pisnp_export.h"

// The converter record; psNlsInfo points to it from psNlsInit to psNlsTerm. A handle is usable
// when it is neither null nor (iconv_t)-1; utf8ToLocal is null when no conversion is needed (a
// UTF-8 locale, or American English).
struct psNlsInfo_t {
    iconv_t toUcs2;
    iconv_t fromUcs2;
    iconv_t spare1;
    iconv_t spare2;
    iconv_t utf8ToLocal;
};

PISNP_API extern psNlsInfo_t* psNlsInfo;

// Code pages a text may come in; only the local one exists on this platform.
enum supportedCodepages_t : int { cpAnsi = 0, cpOem = 1, cpLocal = 2 };

// Once per process: opens the converters for CodePage. 0; -1 when the record cannot be had.
PISNP_API int psNlsInit();
// Closes every usable converter and frees the record. 0.
PISNP_API int psNlsTerm();

// Converts inLen bytes of UTF-8 into the local code set; out is terminated where the output
// ended. 0 with *written bytes written; -1 when input remains (invalid or no room).
PISNP_API int psUTF8ToLocal(char* in, unsigned long inLen, char* out, unsigned long outLen,
                            unsigned long* written);
// Local multibyte text to wide text. 0 with *outBytes = characters x 4; -1 and 0 bytes for an
// invalid sequence.
PISNP_API int psLocalToUcs(char* in, unsigned long inLen, wchar_t* out, unsigned long outLen,
                           unsigned long* outBytes);
// Copies inLen wide characters and terminates them. 0.
PISNP_API int psLocalToUcs(wchar_t* in, unsigned long inLen, wchar_t* out, unsigned long outLen,
                           unsigned long* outBytes);
// Wide text to local multibyte text (at most outLen bytes). 0.
PISNP_API int psUcsToLocal(wchar_t* in, unsigned long inLen, char* out, unsigned long outLen);
PISNP_API int psUcsToLocal(wchar_t* in, unsigned long inLen, wchar_t* out, unsigned long outLen);
PISNP_API int psUcsToLocal(wchar_t* in, char* out, unsigned long outLen);
// Copies outLen - 1 wide characters and terminates them. 0.
PISNP_API int psUcsToLocal(wchar_t* in, wchar_t* out, unsigned long outLen);
// Every wide text maps to multibyte here: 1.
PISNP_API int psDoesWcsMapToMbs(wchar_t* s);
// Texts are already in the local code page: unchanged.
PISNP_API void psInputCPToAnsi(char* text, supportedCodepages_t cp);
// Older converter interfaces with nothing to do on this platform: 0.
PISNP_API int psUcsToLocalIconv();
PISNP_API int psLocalToUcsIconv();
PISNP_API int psNlsInitOldConverters();

// Single-byte code pages 367 (US-ASCII), 437, 819 (ISO 8859-1) and 850: 256 UCS-2 values
// indexed by the byte, 0xFFFF for a byte without a mapping. Null for any other code page.
PISNP_API const unsigned short* nlsGetUCSTable(int cp);
// inLen bytes of code page cp to native 16-bit units (no terminator); *outBytes counts the bytes
// written. 0; -1 without a table; -2 at an unmapped byte (what came before stays).
PISNP_API int nlsLocalToUcs(int cp, char* in, unsigned long inLen, char* out, unsigned long outLen,
                            unsigned long* outBytes);
// inBytes / 2 native 16-bit units to code page cp, terminated; out needs inBytes / 2 + 1 bytes.
// 0; -1 without a table; -2 at a character the code page lacks.
PISNP_API int nlsUcsToLocal(int cp, char* in, unsigned long inBytes, char* out,
                            unsigned long outLen, unsigned long* outCount);

// The server code set whose text is EBCDIC.
inline constexpr int kServerCodeSetEbcdic = 22;
// ebcdictoascii, the table the other way, is in pisnp/strings.h with the byte dumps that use it.
PISNP_API extern const unsigned char asciitoebcdic[256];
// In place, for code set 22 only: EBCDIC to client bytes and back. 0x18 and 0x19 stay as they are.
PISNP_API void Cvt2ClientCS(int cs, unsigned char* buf, unsigned long n);
PISNP_API void Cvt2ServerCS(int cs, unsigned char* buf, unsigned long n);
// In place up to the terminator: swaps the two low bytes of every character.
PISNP_API void Cvt2LocalUcs(wchar_t* s);
// In place: the wide text, terminator included, as big-endian 16-bit units at the start of s
// (the low 16 bits of each character). work holds as many units; the second form takes its own.
PISNP_API void Cvt2NfUcs(wchar_t* s, unsigned short* work);
PISNP_API void Cvt2NfUcs(wchar_t* s);
// In place: big-endian 16-bit units up to a 0 unit back to wide text. Returns s.
PISNP_API wchar_t* Cvt2PsUcs(wchar_t* s);
