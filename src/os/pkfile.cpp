// Stream wrappers, file copies and the wide format converter.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/sysCalls.h"
#include "mem/checkedAlloc.h"
#include "os/widePath.h"
#include "pisnp/files.h"
#include "pisnp/resultCodes.h"

namespace {

constexpr char kSource[] = "pkfile.cpp";
constexpr size_t kPathBytes = 4096 + 1;
constexpr size_t kRenameBytes = 255 + 1;
constexpr int kCopyLine = 512;
constexpr unsigned long kMaxChunk = 65536;

// Closes both streams of a copy on every way out.
struct StreamPair {
    FILE* src = nullptr;
    FILE* dst = nullptr;
    ~StreamPair() {
        if (dst != nullptr) pisnp::sys::fclose(dst);
        if (src != nullptr) pisnp::sys::fclose(src);
    }
};

// Whether the stream has no byte left, without losing one.
bool atEnd(FILE* f) {
    int c = std::getc(f);
    if (c == EOF) return true;
    std::ungetc(c, f);
    return false;
}

}  // namespace

int pkPrintf(unsigned int, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    int n = std::vprintf(fmt, args);
    va_end(args);
    std::fflush(stdout);
    return n;
}

int pkSprintf(unsigned int, char* out, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    int n = std::vsprintf(out, fmt, args);
    va_end(args);
    return n;
}

int pkVsprintf(unsigned int, char* out, const char* fmt, va_list args) {
    return std::vsprintf(out, fmt, args);
}

int pkFprintf(unsigned int, FILE* stream, const char* fmt, ...) {
    if (stream == nullptr) return -1;
    va_list args;
    va_start(args, fmt);
    int n = std::vfprintf(stream, fmt, args);
    va_end(args);
    return n;
}

FILE* pkFopen(const char* path, const char* mode) {
    // The library is built with 64-bit file offsets, so this is the large-file open.
    return pisnp::sys::fopen(path, mode);
}

FILE* pkFopen(const wchar_t* path, const char* mode) {
    char narrow[kPathBytes];
    return pisnp::os::narrowPath(path, narrow, sizeof narrow) ? pkFopen(narrow, mode) : nullptr;
}

char* pkFgets(char* buf, int size, FILE* stream) {
    return std::fgets(buf, size, stream);
}

int pkFputs(const char* text, FILE* stream) {
    return std::fputs(text, stream);
}

wchar_t* pkFgets(wchar_t*, int, FILE*) {
    return nullptr;
}

int pkFputs(const wchar_t*, FILE*) {
    return 0;
}

int pkLocateFile(...) {
    return 0;
}

short pkRemove(char* path) {
    return static_cast<short>(std::remove(path));
}

short pkRemove(wchar_t* path) {
    char narrow[kPathBytes];
    return pisnp::os::narrowPath(path, narrow, sizeof narrow) ? pkRemove(narrow) : short{-1};
}

short pkRename(const char* from, const char* to) {
    return static_cast<short>(pisnp::sys::rename(from, to));
}

short pkRename(const wchar_t* from, const wchar_t* to) {
    char a[kRenameBytes], b[kRenameBytes];
    if (!pisnp::os::narrowPath(from, a, sizeof a) || !pisnp::os::narrowPath(to, b, sizeof b))
        return -1;
    return pkRename(a, b);
}

int pkCopyFile(char* src, char* dst) {
    StreamPair files;
    files.src = pisnp::sys::fopen(src, "r");
    if (files.src == nullptr) return 0;
    files.dst = pisnp::sys::fopen(dst, "w");
    if (files.dst == nullptr) return 0;
    char line[kCopyLine];
    while (std::fgets(line, sizeof line, files.src) != nullptr) std::fputs(line, files.dst);
    return 1;
}

int pkCopyFile(wchar_t* src, wchar_t* dst) {
    char a[kPathBytes], b[kPathBytes];
    if (!pisnp::os::narrowPath(src, a, sizeof a) || !pisnp::os::narrowPath(dst, b, sizeof b))
        return 0;
    return pkCopyFile(a, b);
}

int pkBinCopyFile(char* src, char* dst, unsigned long chunk) {
    StreamPair files;
    files.src = pisnp::sys::fopen(src, "rb+");
    if (files.src == nullptr) return PISNP_RC_COPY_OPEN_FAILED;
    files.dst = pisnp::sys::fopen(dst, "wb+");
    if (files.dst == nullptr) return PISNP_RC_COPY_OPEN_FAILED;
    if (chunk > kMaxChunk) chunk = kMaxChunk;
    char* buf = static_cast<char*>(arcMalloc(chunk > 0 ? chunk : 1, kSource, __LINE__));
    if (buf == nullptr) return PISNP_RC_NO_MEMORY;
    int rc = 0;
    while (rc == 0 && !atEnd(files.src)) {
        size_t n = std::fread(buf, 1, chunk, files.src);
        if (n == 0 || (n < chunk && !std::feof(files.src)))
            rc = PISNP_RC_READ_FAILED;
        else if (pisnp::sys::fwrite(buf, 1, n, files.dst) < n)
            rc = PISNP_RC_WRITE_FAILED;
    }
    arcFree(buf, kSource, __LINE__);
    if (pisnp::sys::fflush(files.dst) != 0 && rc == 0) rc = PISNP_RC_WRITE_FAILED;
    return rc;
}

int pkBinCopyFile(wchar_t* src, wchar_t* dst, unsigned long chunk) {
    char a[kPathBytes], b[kPathBytes];
    if (!pisnp::os::narrowPath(src, a, sizeof a) || !pisnp::os::narrowPath(dst, b, sizeof b))
        return PISNP_RC_COPY_OPEN_FAILED;
    return pkBinCopyFile(a, b, chunk);
}

wchar_t* scanstr(unsigned int mask, wchar_t* fmt) {
    if (fmt == nullptr) return nullptr;
    size_t len = std::wcslen(fmt);
    // Room for every "l" the 32 bits of mask can ask for.
    auto* out = static_cast<wchar_t*>(arcMalloc((len + 33) * sizeof(wchar_t), kSource, __LINE__));
    if (out == nullptr) return nullptr;
    wchar_t* o = out;
    const wchar_t* p = fmt;
    while (const wchar_t* percent = std::wcschr(p, L'%')) {
        const wchar_t* conv = std::wcspbrk(percent + 1, L"cdeEfgGinopsuxX%");
        if (conv == nullptr) break;
        size_t n = static_cast<size_t>(conv - p);
        std::wmemcpy(o, p, n);
        o += n;
        if ((mask & 1u) != 0 && (*conv == L'c' || *conv == L's')) *o++ = L'l';
        *o++ = *conv;
        mask >>= 1;
        p = conv + 1;
    }
    std::wcscpy(o, p);
    return out;
}
