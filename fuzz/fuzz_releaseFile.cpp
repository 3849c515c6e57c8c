// The operating system's description from a release file given by the input: its first byte
// picks which of the files the input stands for; the others are missing. Every line also goes
// through the line splitter, whose results must stay inside the line.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/sysCalls.h"
#include "os/systemInfo.h"

namespace {

std::string gContent;
const char* gPath = "";

FILE* fakeOpen(const char* path, const char*) {
    if (std::strcmp(path, gPath) != 0) return nullptr;
    return fmemopen(gContent.data(), gContent.size(), "r");
}

int noAccess(const char*, int) {
    return -1;
}

void splitEachLine(std::string text) {
    text.push_back('\n');
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        std::string line = text.substr(at, end - at);
        char *key, *value;
        unsigned long keyLen, valueLen;
        parseReleaseLine(line.data(), key, keyLen, value, valueLen);
        char* last = line.data() + std::strlen(line.c_str());
        if ((key != nullptr && key + keyLen > last) ||
            (value != nullptr && value + valueLen > last))
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const char* const kFiles[] = {"/etc/os-release", "/etc/system-release", "/etc/issue"};
    gPath = kFiles[data[0] % 3];
    gContent.assign(reinterpret_cast<const char*>(data) + 1, size - 1);
    splitEachLine(gContent);
    pisnp::sys::Override access(&pisnp::sys::Table::access, &noAccess);
    pisnp::sys::Override open(&pisnp::sys::Table::fopen, &fakeOpen);
    dsSystemInfo_t record{};
    pisnp::os::fillSystemInfo(&record);
    if (std::strncmp(record.osLevel, "LNX:", 4) != 0 || std::strlen(record.osLevel) > 63)
        std::abort();
    return 0;
}
