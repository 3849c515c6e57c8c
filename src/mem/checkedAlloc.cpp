#include "mem/checkedAlloc.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/report.h"
#include "mem/allocFaults.h"
#include "pisnp/traceFlags.h"

// The flag is tested here, inline, so that the untraced path never sets up a varargs call.
#define MEM_TRACE(...) REPORT_TRACE(TR_MEMORY, __VA_ARGS__)

namespace {

// The trailer is compared as bytes against this word (it is not aligned).
const unsigned int magicVal = arc::kLiveMagic;

int (*pfnCallIfNoMem)() = nullptr;
int (*pfnCallIfAbort)() = nullptr;

arc::testing::AllocObserver* gObserver = nullptr;

constexpr size_t kOomTextSize = 8768;

unsigned char* rawOf(void* ptr) {
    return static_cast<unsigned char*>(ptr) - arc::kHeaderSize;
}

unsigned int headerMagic(const unsigned char* raw) {
    unsigned int m;
    std::memcpy(&m, raw, sizeof m);
    return m;
}

uint64_t totalLength(const unsigned char* raw) {
    uint64_t len;
    std::memcpy(&len, raw + 8, sizeof len);
    return len;
}

void frame(unsigned char* raw, size_t size, unsigned int magic) {
    uint64_t total = size + arc::kOverhead;
    std::memcpy(raw, &magic, sizeof magic);
    std::memcpy(raw + 8, &total, sizeof total);
    std::memcpy(raw + arc::kHeaderSize + size, &magic, sizeof magic);
}

// Writes the magic into header and trailer of a block whose header length is trusted.
void mark(unsigned char* raw, unsigned int magic) {
    uint64_t total = totalLength(raw);
    std::memcpy(raw, &magic, sizeof magic);
    std::memcpy(raw + arc::kHeaderSize + (total - arc::kOverhead), &magic, sizeof magic);
}

// Refuses requests whose framed size would not fit in size_t: they are treated as an
// allocation failure rather than wrapping around to a tiny block.
bool framedSize(size_t n, size_t* out) {
    if (n > SIZE_MAX - arc::kOverhead) return false;
    *out = n + arc::kOverhead;
    return true;
}

bool observerAllows(size_t size) {
    return gObserver == nullptr || gObserver->allow(size);
}

void runHandlers(size_t testedSize) {
    if (pfnCallIfNoMem != nullptr && testedSize != 0) {
        if (pfnCallIfNoMem() == 2 && pfnCallIfAbort != nullptr) pfnCallIfAbort();
    }
}

void outOfMemory(size_t size, const char* file, unsigned int line) {
    char text[kOomTextSize];
    std::snprintf(text, sizeof text, "calloc() failed: Size %ld File %s Line %d\n",
                  static_cast<long>(size), file, static_cast<int>(line));
    MEM_TRACE("%s", text);
    pisnp::report::logLine(text);
    runHandlers(size);
}

}  // namespace

namespace arc::testing {
AllocObserver* setAllocObserver(AllocObserver* observer) {
    AllocObserver* previous = gObserver;
    gObserver = observer;
    return previous;
}
}  // namespace arc::testing

namespace {

// The sound-block path is inlined into arcFree and arcRealloc; only a refusal leaves it.
inline bool blockSound(void* ptr) {
    const unsigned char* raw = rawOf(ptr);
    return headerMagic(raw) == arc::kLiveMagic &&
           std::memcmp(static_cast<unsigned char*>(ptr) + (totalLength(raw) - arc::kOverhead),
                       &magicVal, sizeof magicVal) == 0;
}

// Reports why a block failed; the header is judged first and a bad header ends the check
// before the trailer (whose place the header gives) is read.
[[gnu::noinline, gnu::cold]] int refuseBlock(void* ptr, const char* file, int line) {
    unsigned int magic = headerMagic(rawOf(ptr));
    if (magic == arc::kReleasedMagic) {
        MEM_TRACE("Block header invalid, This block already released. Addr %p, File %s, Line %d\n",
                  ptr, file, line);
    } else if (magic != arc::kLiveMagic) {
        MEM_TRACE("Block header invalid, possible memory overwrite. Addr %p, File %s, Line %d\n",
                  ptr, file, line);
    } else {
        MEM_TRACE("Block trailer invalid, possible memory overwrite. Addr %p, File %s, Line %d\n",
                  ptr, file, line);
    }
    return -1;
}

// Neither a test observer nor the memory trace class is on: the usual case, in which
// allocation and release need nothing beyond the C library call and the frame.
inline bool quiet() {
    return gObserver == nullptr && TR_MEMORY == 0;
}

inline int checkBlock(void* ptr, const char* file, int line) {
    if (ptr == nullptr || blockSound(ptr)) return 0;
    return refuseBlock(ptr, file, line);
}

}  // namespace

int chkSnake(void* ptr, const char* file, int line) {
    return checkBlock(ptr, file, line);
}

int SetDeleteMagicValue(void* ptr) {
    if (ptr != nullptr) mark(rawOf(ptr), arc::kReleasedMagic);
    return 0;
}

namespace {

// With an observer or the memory trace on, every allocation is reported.
[[gnu::noinline]] void* mallocReported(size_t size, const char* file, unsigned int line) {
    size_t rawSize;
    void* raw = nullptr;
    if (framedSize(size, &rawSize) && observerAllows(size)) raw = std::malloc(rawSize);
    if (raw == nullptr) {
        outOfMemory(size, file, line);
        return nullptr;
    }
    frame(static_cast<unsigned char*>(raw), size, arc::kLiveMagic);
    void* ptr = static_cast<unsigned char*>(raw) + arc::kHeaderSize;
    if (gObserver != nullptr) gObserver->allocated(ptr);
    MEM_TRACE("ARCEM(+) Addr %p Size %ld File %s Line %d\n", ptr, static_cast<long>(size), file,
              static_cast<int>(line));
    return ptr;
}

}  // namespace

void* arcMalloc(size_t size, const char* file, unsigned int line) {
    size_t rawSize;
    if (!quiet() || !framedSize(size, &rawSize)) return mallocReported(size, file, line);
    auto* raw = static_cast<unsigned char*>(std::malloc(rawSize));
    if (raw == nullptr) {
        outOfMemory(size, file, line);
        return nullptr;
    }
    frame(raw, size, arc::kLiveMagic);
    return raw + arc::kHeaderSize;
}

void* arcCalloc(size_t count, size_t size, const char* file, unsigned int line) {
    size_t n = 0;
    size_t rawSize = 0;
    bool fits = !__builtin_mul_overflow(count, size, &n) && framedSize(n, &rawSize);
    void* raw = nullptr;
    if (fits && observerAllows(n)) raw = std::calloc(1, rawSize);
    if (raw == nullptr) {
        outOfMemory(size, file, line);
        return nullptr;
    }
    void* ptr = static_cast<unsigned char*>(raw) + arc::kHeaderSize;
    MEM_TRACE("ARCEM(c+) Addr %p Size %ld Count %ld File %s Line %d\n", ptr,
              static_cast<long>(size), static_cast<long>(count), file, static_cast<int>(line));
    frame(static_cast<unsigned char*>(raw), n, arc::kLiveMagic);
    if (gObserver != nullptr) gObserver->allocated(ptr);
    return ptr;
}

void* arcRealloc(void* ptr, size_t size, const char* file, unsigned int line) {
    if (checkBlock(ptr, file, static_cast<int>(line)) != 0) return nullptr;
    size_t rawSize;
    bool fits = framedSize(size, &rawSize) && observerAllows(size);
    void* raw = nullptr;
    if (fits) {
        if (ptr != nullptr) mark(rawOf(ptr), arc::kReleasedMagic);
        raw = std::realloc(ptr != nullptr ? rawOf(ptr) : nullptr, rawSize);
    }
    if (raw == nullptr) {
        // realloc left the old block where it was: make it live again for the caller.
        if (ptr != nullptr) mark(rawOf(ptr), arc::kLiveMagic);
        pisnp::report::diag(__FILE_NAME__, __LINE__, TR_MEMORY,
                            "Realloc failed: Old addr %p New Size %ld File %s Line %d\n", ptr,
                            static_cast<long>(size), file, static_cast<int>(line));
        runHandlers(size);
        return nullptr;
    }
    frame(static_cast<unsigned char*>(raw), size, arc::kLiveMagic);
    void* newPtr = static_cast<unsigned char*>(raw) + arc::kHeaderSize;
    if (gObserver != nullptr) {
        if (ptr != nullptr) gObserver->released(ptr);
        gObserver->allocated(newPtr);
    }
    MEM_TRACE("ARCEM(r+) naddr %p oaddr %p nsize %ld File %s Line %d\n", newPtr, ptr,
              static_cast<long>(size), file, static_cast<int>(line));
    return newPtr;
}

namespace {

// Null pointers, refused blocks, an observer or the memory trace: everything that reports.
[[gnu::noinline]] void freeReported(void* ptr, const char* file, unsigned int line) {
    if (ptr == nullptr) {
        MEM_TRACE("Attempt to free NULL pointer. File %s Line %d\n", file, static_cast<int>(line));
        return;
    }
    if (checkBlock(ptr, file, static_cast<int>(line)) != 0) return;
    mark(rawOf(ptr), arc::kReleasedMagic);
    std::free(rawOf(ptr));
    if (gObserver != nullptr) gObserver->released(ptr);
    MEM_TRACE("ARCEM(-) Addr %p File %s Line %d\n", ptr, file, static_cast<int>(line));
}

}  // namespace

void arcFree(void* ptr, const char* file, unsigned int line) {
    if (ptr == nullptr || !quiet() || !blockSound(ptr)) return freeReported(ptr, file, line);
    mark(rawOf(ptr), arc::kReleasedMagic);
    std::free(rawOf(ptr));  // a tail call: nothing is left to do after the C library
}

void arcSetNoMemHandler(int (*handler)()) {
    pfnCallIfNoMem = handler;
}
void arcSetAbortHandler(int (*handler)()) {
    pfnCallIfAbort = handler;
}

// Kept for the plug-in's termination, which calls it; blocks are not listed anywhere.
void arcFreeMemoryList() {}

void* arcNativeMalloc(int size) {
    return std::malloc(static_cast<size_t>(size));
}

void arcNativeFree(void* ptr) {
    if (ptr != nullptr) std::free(ptr);
}

int ArcPoolCheck() {
    return 0;
}
