// How the layers below diagnostics report upward without including it.
//
// The allocator traces a damaged block, the OS layer traces a child's end, the message layer
// records the numbers of the messages it issues: each calls one of these functions, and the
// diagnostics layer installs the functions behind them when the library is loaded (before any
// thread of the host can call in). Until then, or in a program linked without diagnostics, every
// report goes nowhere and answers 0. Every report leaves errno as it found it.
#pragma once

#include <cstdarg>

namespace pisnp::report {

struct Hooks {
    // One trace line with the caller's source file name and line.
    int (*trace)(const char* file, unsigned line, const char* fmt, va_list args);
    // One diagnostic line: to the error log, and to the trace under classFlag.
    int (*diag)(const char* file, unsigned line, unsigned char classFlag, const char* fmt,
                va_list args);
    // One finished line for the error log.
    int (*logLine)(char* text);
    // A numbered message has been issued: the process's return code follows it.
    void (*messageIssued)(int msgNum);
    // A message text for the schedule log, written when the process runs in schedule mode.
    int (*schedLine)(char* text);
    // A numbered catalog message with its inserts: on the trace, or (with a class flag) to the
    // error log and, as the flag asks, the trace.
    int (*message)(const char* file, unsigned line, unsigned msgNum, va_list inserts);
    int (*messageLog)(const char* file, unsigned line, unsigned char classFlag, unsigned msgNum,
                      va_list inserts);
};

// Replaces every hook at once; a null member turns that kind of report off.
void install(const Hooks& hooks);
// The hooks in place, for a test that replaces one and puts them back.
Hooks installed();

[[gnu::format(printf, 3, 4)]] int trace(const char* file, unsigned line, const char* fmt, ...);
[[gnu::format(printf, 4, 5)]] int diag(const char* file, unsigned line, unsigned char classFlag,
                                       const char* fmt, ...);
int logLine(char* text);
void messageIssued(int msgNum);
int schedLine(char* text);
int message(const char* file, unsigned line, unsigned msgNum, ...);
int messageLog(const char* file, unsigned line, unsigned char classFlag, unsigned msgNum, ...);

}  // namespace pisnp::report

// A trace line under a trace class, from code below the diagnostics layer: nothing is formatted
// unless the class's flag byte is set. Code of the diagnostics layer and above uses TRACE.
#define REPORT_TRACE(flag, ...)                                                        \
    do {                                                                               \
        if ((flag) != 0) ::pisnp::report::trace(__FILE_NAME__, __LINE__, __VA_ARGS__); \
    } while (0)
