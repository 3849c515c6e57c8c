// Trace class flags, test flags and the tables that name them.
//
// A trace class is on when its byte is non-zero. Code tests the byte directly and without locks:
// enabling happens at start-up or on request, and a reader sees either the old or the new byte.
// Test flags are records (on, value, text) set from a list of items such as "TIMEOUT:30".
#pragma once

#include "pisnp_export.h"

#define TRACE_CLASS(keyword, flag, comm) PISNP_API extern unsigned char flag;
#include "diag/traceClassList.def"
#undef TRACE_CLASS

struct TestFlag {
    unsigned char on;  // 1 when the flag is set
    int value;         // number given with the flag, 0 when none; INSTRUMENT: category mask
    char* text;        // owned copy of a quoted text given with the flag, or null
};

#define TEST_FLAG(keyword, record) PISNP_API extern TestFlag record;
#include "diag/testFlagList.def"
#undef TEST_FLAG

struct TrClass {
    const char* name;     // keyword, upper case; null ends the table
    unsigned char* flag;  // the class's global flag byte
    unsigned int comm;    // 1 for a communication class
};

// An aggregate stands for a blank-separated list of classes, aggregates, "ALL", or any of
// those with a leading "-".
struct TrAggrClass {
    const char* name;  // null ends the table
    const char* items;
};

struct TestClass {
    const char* name;  // null ends the table
    TestFlag* flag;
};

inline constexpr int kTraceClassCount = 248;
inline constexpr int kTraceAggregateCount = 27;
inline constexpr int kTestFlagCount = 732;

// Each table is followed by an entry with a null name.
PISNP_API extern const TrClass ClassTable[];
PISNP_API extern const TrAggrClass AggrTable[];
PISNP_API extern const TestClass TestClassTable[];

// Switches classes from a blank-separated list of class and aggregate names; "-" switches off,
// "ALL" means every class but TIMESTAMP and PREFIX. 0, or -1 at the first name that matches
// nothing (names before it stay applied); unless quiet, that name is reported on stdout.
PISNP_API int trEnable(char* list, int quiet);
PISNP_API int trEnable(char* list, int quiet, const TrClass* classes,
                       const TrAggrClass* aggregates);
PISNP_API int ResolveName(char* list, int enable, int quiet, const TrClass* classes,
                          const TrAggrClass* aggregates);

// Index of the entry whose keyword equals name exactly, or -1.
PISNP_API int FindSimple(char* name, const TestClass* table);
// Sets test flags from items "NAME", "NAME:number" or "NAME:\"text\"" (INSTRUMENT takes
// category keywords joined by "/"). 0, or -1 at the first bad item.
PISNP_API int trProcTestFlags(char* list);
PISNP_API int trProcTestFlags(char* list, const TestClass* table);

// The tables on standard output, and the set test flags on the trace.
PISNP_API int trQueryTraceFlags();
PISNP_API int trQueryTestFlags();
PISNP_API int trPrintEnabledTestFlags();
