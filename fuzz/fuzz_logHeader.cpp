// Arbitrary bytes as a log file found on disk, opened as a wrapping log of a few maxima (and as a
// plain log): nothing may crash, and a wrapping log stays within its maximum, also after lines
// are written to it.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "diag/logFile.h"

namespace {

const std::string& directory() {
    static const std::string dir = [] {
        char pattern[] = "/tmp/fuzz_logHeader.XXXXXX";
        const char* made = mkdtemp(pattern);
        return std::string(made != nullptr ? made : "/tmp");
    }();
    return dir;
}

unsigned long sizeOf(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<unsigned long>(st.st_size) : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const unsigned kMaxima[] = {0, 512, 700, 4096, 65536};
    unsigned maxSize = kMaxima[data[0] % 5];
    std::string path = directory() + "/fuzz.log";
    FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) return 0;
    std::fwrite(data + 1, 1, size - 1, f);
    std::fclose(f);

    static DLogFile log;
    log.InitializeLogFile(maxSize, nullptr, 10000, 'D', 0, 0);
    if (log.utOpenOutputFile(path.data()) != nullptr && log.wrapping == 1) {
        if (sizeOf(path) > log.maxSize) std::abort();
        std::string line = "12/06/2026 10:00:00 a line after the fuzzed content\n";
        for (int i = 0; i < 40; ++i) {
            if (logfile::writeLine(log, line.data(), line.size()) != 0) break;
            if (sizeOf(path) > log.maxSize) std::abort();
        }
    }
    if (log.file != nullptr) std::fclose(log.file);
    log.file = nullptr;
    std::string save = path + ".save";
    unlink(save.c_str());
    return 0;
}
