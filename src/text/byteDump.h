// Raw bytes as text, in the character forms of CharForm (strings.h): shared by the text
// layer's dumps and the trace facility's, which writes them under its own locks.
#pragma once

#include <cwchar>

#include "pisnp/strings.h"

namespace text_detail {

// Hands the rendering of len bytes to sink(const char* piece, size_t n) piece by piece.
template <typename Sink>
void renderBytes(const unsigned char* data, int len, CharForm form, Sink sink) {
    if (form == cfAuto) {
        bool singleByte = true;
        for (int i = 0; i < len && singleByte; ++i) {
            std::mbstate_t state{};
            char c = static_cast<char>(data[i]);
            // A NUL is a one-byte character too, though mbrlen reports it as length 0.
            size_t n = std::mbrlen(&c, 1, &state);
            singleByte = n == 1 || n == 0;
        }
        form = singleByte ? cfPrintable : cfHex;
    }
    bool hex = form == cfHex || form == cfHexGrouped;
    int blanks = 0;
    for (int i = 0; i < len; ++i) {
        char piece[4];
        size_t n = 0;
        if (form == cfHexGrouped && i > 0 && i % 4 == 0) {
            piece[n++] = ' ';
            if (++blanks % 8 == 0) piece[n++] = '\n';
            sink(piece, n);
            n = 0;
        }
        if (hex) {
            static const char kDigits[] = "0123456789ABCDEF";
            piece[n++] = kDigits[data[i] >> 4];
            piece[n++] = kDigits[data[i] & 0xF];
        } else {
            char c = static_cast<char>(form == cfEbcdic ? ebcdictoascii[data[i]] : data[i]);
            piece[n++] = IsPrint(c) ? c : '.';
        }
        sink(piece, n);
    }
}

}  // namespace text_detail
