// The converters on arbitrary bytes: the code-page tables both ways, EBCDIC in place, the
// byte-order conversions of wide text, and UTF-8 to a single-byte local code set.
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "pisnp/codesets.h"
#include "pisnp/messages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        std::strcpy(CodePage, "ISO-8859-1");  // a converter that really converts
        return psNlsInit() == 0;
    }();
    (void)ready;
    std::vector<char> in(data, data + size);
    for (int cp : {367, 437, 819, 850, 1252}) {
        std::vector<char> ucs(2 * size + 2);
        unsigned long bytes = 0, count = 0;
        nlsLocalToUcs(cp, in.data(), size, ucs.data(), ucs.size(), &bytes);
        std::vector<char> back(size / 2 + 1);
        nlsUcsToLocal(cp, in.data(), size, back.data(), back.size(), &count);
    }
    std::vector<unsigned char> bytes(data, data + size);
    Cvt2ServerCS(22, bytes.data(), bytes.size());
    Cvt2ClientCS(22, bytes.data(), bytes.size());

    std::vector<wchar_t> wide(size / 4 + 1, 0);
    std::memcpy(wide.data(), data, size / 4 * 4);
    for (auto& w : wide) w &= 0xFFFF;  // units that fit the 16-bit form
    wide.back() = 0;
    Cvt2NfUcs(wide.data());
    Cvt2PsUcs(wide.data());
    Cvt2LocalUcs(wide.data());

    std::vector<char> out(2 * size + 1);
    unsigned long written = 0;
    psUTF8ToLocal(in.data(), size, out.data(), out.size(), &written);
    return 0;
}
