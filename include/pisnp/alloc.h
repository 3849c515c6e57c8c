// Checked allocator: every block of the library is framed by a header and a trailer magic word,
// and is checked before it goes back to the C library.
//
//   raw + 0   block magic (0xABCDDCBA live, 0xDEADDEAD released), native byte order
//   raw + 4   unused
//   raw + 8   total raw length, n + 20, unsigned 64-bit
//   raw + 16  caller's n bytes (the pointer handed out)
//   raw + 16 + n  trailer magic, 4 bytes, unaligned
//
// No state is kept outside the blocks except the two handler pointers.
//
// Any thread may allocate and release. Blocks handed out by functions of the library that create
// text or records belong to the caller, who releases them with arcFree.
#pragma once

#include <cstddef>

#include "pisnp_export.h"

PISNP_API void* arcMalloc(size_t size, const char* file, unsigned int line);
PISNP_API void* arcCalloc(size_t count, size_t size, const char* file, unsigned int line);
PISNP_API void* arcRealloc(void* ptr, size_t size, const char* file, unsigned int line);
PISNP_API void arcFree(void* ptr, const char* file, unsigned int line);

PISNP_API void arcSetNoMemHandler(int (*handler)());
PISNP_API void arcSetAbortHandler(int (*handler)());
PISNP_API void arcFreeMemoryList();

PISNP_API void* arcNativeMalloc(int size);
PISNP_API void arcNativeFree(void* ptr);

PISNP_API int ArcPoolCheck();
PISNP_API int chkSnake(void* ptr, const char* file, int line);
PISNP_API int SetDeleteMagicValue(void* ptr);

// Call-site forms that pass the caller's file and line.
#define ARC_MALLOC(n) arcMalloc((n), __FILE_NAME__, __LINE__)
#define ARC_CALLOC(c, n) arcCalloc((c), (n), __FILE_NAME__, __LINE__)
#define ARC_REALLOC(p, n) arcRealloc((p), (n), __FILE_NAME__, __LINE__)
#define ARC_FREE(p) arcFree((p), __FILE_NAME__, __LINE__)
