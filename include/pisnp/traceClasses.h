// The tables that name the trace classes, their aggregates and the test flags, and the
// functions that switch them by keyword. The flags themselves are in traceFlags.h.
#pragma once

#include "pisnp/traceFlags.h"
#include "pisnp_export.h"

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
