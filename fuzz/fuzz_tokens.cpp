// The token readers over a line from the input, in both character forms, read to its end:
// every call must move the position on or report an error, and a token must fit its buffer.
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

template <typename C>
void readQuoted(std::vector<C> line) {
    line.push_back(0);
    C* p = line.data();
    std::vector<C> out(kMaxQuotedToken + 1);
    while (*p != 0) {
        C* before = p;
        int rc = GetQuotedToken(&p, out.data());
        if (rc != 0) {
            if (out[0] != 0) std::abort();
            return;
        }
        if (p == before) return;  // only white space was left
    }
}

template <typename C>
void readPlain(std::vector<C> line, int size) {
    line.push_back(0);
    C* p = line.data();
    std::vector<C> out(static_cast<size_t>(size));
    for (;;) {
        C* before = p;
        GetToken(&p, out.data(), size);
        if (p == before || *p == 0) return;
    }
}

void readLines(const uint8_t* data, size_t size) {
    if (size == 0) return;
    std::vector<char> copy(data, data + size);
    FILE* f = fmemopen(copy.data(), copy.size(), "r");
    if (f == nullptr) return;
    int lineNo = 0;
    char buf[64];
    int bufSize = 2 + data[0] % 62;
    while (utGetNextLine(buf, bufSize, f, &lineNo, 0, 0) != nullptr) {
        if (std::strlen(buf) >= static_cast<size_t>(bufSize)) std::abort();
    }
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
    readQuoted(narrow);
    readQuoted(wide);
    int size8 = size > 0 ? 1 + data[0] % 16 : 1;
    readPlain(narrow, size8);
    readPlain(wide, size8);
    readLines(data, size);
    std::string word(narrow.begin(), narrow.end());
    utilParseToggle(word.c_str(), 1, 0);
    return 0;
}
