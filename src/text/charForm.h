// How raw bytes are printed as text.
#pragma once

enum CharForm {
    cfEbcdic = 0,      // translated from EBCDIC, printable characters as themselves, others "."
    cfPrintable = 1,   // printable characters as themselves, others "."
    cfHex = 2,         // two upper-case hexadecimal digits per byte
    cfHexGrouped = 3,  // as cfHex, a blank before every fourth byte, a line feed every 32 bytes
    cfAuto = 4,        // cfPrintable for single-byte text, else cfHex
};
