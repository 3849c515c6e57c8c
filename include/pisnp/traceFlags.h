// Trace class flags and test flags: one global byte per trace class, one record per test flag.
//
// A trace class is on when its byte is non-zero. Code tests the byte directly and without locks:
// enabling happens at start-up or on request (traceClasses.h), and a reader sees either the old
// or the new byte. Test flags are records (on, value, text) set from a list of items such as
// "TIMEOUT:30". Every flag starts off; the host may set ERROR before any trace exists.
#pragma once

#include "pisnp_export.h"

#define TRACE_CLASS(keyword, flag, comm) PISNP_API extern unsigned char flag;
#include "pisnp/traceClassList.def"
#undef TRACE_CLASS

struct TestFlag {
    unsigned char on;  // 1 when the flag is set
    int value;         // number given with the flag, 0 when none; INSTRUMENT: category mask
    char* text;        // owned copy of a quoted text given with the flag, or null
};

#define TEST_FLAG(keyword, record) PISNP_API extern TestFlag record;
#include "pisnp/testFlagList.def"
#undef TEST_FLAG
