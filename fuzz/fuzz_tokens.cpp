// The token readers over a line from the input, in both character forms, read to its end.
// The same input also goes through the option-file line reader.
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pisnp/tokens.h"

namespace {

// Reads line to its end with both readers; each call must move on or report an error.
template <typename C>
void readTokens(std::vector<C> line, int size) {
    line.push_back(0);
    std::vector<C> out(kMaxQuotedToken + 1);
    for (C* p = line.data(); *p != 0;) {
        C* before = p;
        if (GetQuotedToken(&p, out.data()) != 0) {
            if (out[0] != 0) std::abort();
            break;
        }
        if (p == before) break;  // only white space was left
    }
    for (C* p = line.data(); *p != 0;) {
        C* before = p;
        GetToken(&p, out.data(), size);
        if (p == before) break;
    }
}

void readLines(const uint8_t* data, size_t size) {
    std::vector<char> copy(data, data + size);
    FILE* f = size > 0 ? fmemopen(copy.data(), copy.size(), "r") : nullptr;
    if (f == nullptr) return;
    int lineNo = 0, bufSize = 2 + data[0] % 62;
    char buf[64];
    while (utGetNextLine(buf, bufSize, f, &lineNo, 0, 0) != nullptr)
        if (std::strlen(buf) >= static_cast<size_t>(bufSize)) std::abort();
    std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr) std::setlocale(LC_ALL, "C.utf8");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> narrow;
    for (size_t i = 0; i < size; ++i)
        if (data[i] != 0) narrow.push_back(static_cast<char>(data[i]));
    std::vector<wchar_t> wide(narrow.begin(), narrow.end());
    int tokenSize = size > 0 ? 1 + data[0] % 16 : 1;
    readTokens(narrow, tokenSize);
    readTokens(wide, tokenSize);
    readLines(data, size);
    std::string word(narrow.begin(), narrow.end());
    utilParseToggle(word.c_str(), 1, 0);
    return 0;
}
