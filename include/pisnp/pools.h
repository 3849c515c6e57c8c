// Memory pools: many small pieces of memory that are never freed one by one; all pieces of a
// pool go away together when the pool is destroyed.
//
// A pool is known by a small integer handle; 0 stands for no pool. It grows by blocks of its
// increment (taken from the checked allocator, or from shared memory for a pool marked as
// shared) and carves each piece, a multiple of 8 bytes and 8-byte aligned, from the block with
// the least free space that still fits. Pieces carry no header. A pool that cannot grow is
// marked full and refuses every request until some pool is destroyed. Destroyed pools' handles
// are handed out again, the last destroyed first.
//
// Ownership: pieces belong to their pool; a handle belongs to whoever created the pool, who
// destroys it with arcpDestroy (or all pools at once with mpDestroyAll).
//
// Threads: any thread may call; one process-wide lock serialises every pool operation.
// mpPoolInit must have run before the first pool is created. The test flags MEMPOOLSIZE and
// MEMPOOLSIMPLESEARCH are to be set before that, too.
//
// mpAlloc and mpStrDup treat a handle that arcpCreate did not return, or that was destroyed, as a
// programming error: an assertion stops a debug build, other builds answer null. A shared pool
// holds one segment of its increment's size: requests must fit into it, and once it is used up
// the pool is full.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pisnp_export.h"

typedef int mpHandle;
typedef char dsChar_t;
typedef int32_t dsInt32_t;

// Starts the pool system; does nothing when pools exist.
PISNP_API void mpPoolInit();
// Destroys every pool, frees the pool table and the lock. The result of destroying the lock: 0,
// or the system's code (16 when another thread holds it).
PISNP_API int mpDestroyAll();

// A new pool growing by sizeKB kilobytes at a time (at least 2); its handle, or -1. file and
// line name the caller on the trace.
PISNP_API mpHandle arcpCreate(size_t sizeKB, const char* file, unsigned int line);
// Frees all memory of the pool; an unknown handle is only reported on the trace.
PISNP_API void arcpDestroy(mpHandle handle, const char* file, unsigned int line);

// A piece of size bytes, or null; 0 and sizes beyond 31 bits are refused.
PISNP_API void* mpAlloc(mpHandle handle, size_t size);
// A copy of s in pool memory, or null. An empty s gives a shared constant empty string that is
// not pool memory and must not be written.
PISNP_API dsChar_t* mpStrDup(mpHandle handle, const dsChar_t* s);
// From now on every request gets a block of its own.
PISNP_API void mpPoolOverride();

// Marks the pool as shared: it takes its block from a private shared-memory segment.
PISNP_API void mpSetShmPoolBit(mpHandle handle);
// The pool's segment id, -1 while it has none.
PISNP_API dsInt32_t mpGetShmPoolID(mpHandle handle);
// A shared pool's segment, another pool's first block; null while the pool has no block.
PISNP_API void* mpGetShmPoolAddr(mpHandle handle);

// -1 for a handle out of range, 1 when the pool is full, else 0 (also for a destroyed pool).
PISNP_API int mpStatus(mpHandle handle);
// The highest number of pools that were alive at once.
PISNP_API int mpGetPeakMP();

// Call-site forms that pass the caller's file and line.
#define ARCP_CREATE(sizeKB) arcpCreate((sizeKB), __FILE_NAME__, __LINE__)
#define ARCP_DESTROY(handle) arcpDestroy((handle), __FILE_NAME__, __LINE__)
