// Match with a text and a pattern taken from the input (split at its first byte's value), in a
// UTF-8 locale, and with both wildcard pairs. Beyond not failing: the same bytes always match,
// and ignoring case never loses a match.
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "pisnp/match.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr) std::setlocale(LC_ALL, "C.utf8");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    size_t split = 1 + data[0] % size;
    // Copies without terminators, so that reading past a length is caught.
    std::string text(reinterpret_cast<const char*>(data) + 1, split - 1);
    std::string pattern(reinterpret_cast<const char*>(data) + split, size - split);
    int tn = static_cast<int>(text.size()), pn = static_cast<int>(pattern.size());
    int exact = Match(text.data(), tn, pattern.data(), pn, '*', '?', 0);
    int folded = Match(text.data(), tn, pattern.data(), pn, '*', '?', 1);
    if (exact == 1 && folded != 1) std::abort();
    Match(text.data(), tn, pattern.data(), pn, '%', '_', 0);
    if (Match(pattern.data(), pn, pattern.data(), pn, '*', '?', 0) != 1) std::abort();
    return 0;
}
