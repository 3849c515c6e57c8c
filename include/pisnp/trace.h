// The trace facility: diagnostic lines to one destination per process (a trace file, standard
// output, standard error, or the host's console callback), gated by the trace class flags.
//
// Any thread may trace. Every trace call leaves errno as it found it, and every print function
// returns 0 and writes nothing while there is no destination. A bounded trace file either wraps
// in place or rotates through numbered segment files; its header always records where the end
// marker stands.
#pragma once

#include <cerrno>
#include <cstdarg>
#include <cstdio>

#include "pisnp/messages.h"
#include "pisnp/resultCodes.h"
#include "pisnp/strings.h"
#include "pisnp/traceClasses.h"
#include "pisnp_export.h"

// First argument of the console callback.
enum trConsoleMsg_t {
    trConsoleOpen = 0,  // at begin; a result of 0 accepts console mode
    trConsoleText = 1,  // the second argument is the text
    trConsoleClose = 2,
};

typedef int (*trConsoleCallback_t)(trConsoleMsg_t msg, const char* text, void* arg);
typedef void (*trTidProc_t)(char* banner, char* tidText);

struct TraceObject;
// Points at the process's one trace object while it exists, else null.
PISNP_API extern TraceObject* traceObj;

// Creation and teardown.
PISNP_API int new_TraceObject(cliType_t clientType, unsigned long thread, trTidProc_t tidProc);
PISNP_API void delete_TraceObject();
PISNP_API int trTIDProc(char* banner, char* tidText);

// Destination and options; may be set in any order before trBegin.
PISNP_API int trSetTraceFileNameNoLink(char* name);
PISNP_API int trSetTraceFileName(char* name);
PISNP_API char* trGetTraceFileName();
PISNP_API int trSetMaxTraceSize(unsigned int mb);
PISNP_API int trSetMaxTraceSegSize(unsigned int mb);
PISNP_API void trSetNoStdout();
PISNP_API void trInstallConsoleCallback(trConsoleCallback_t callback, void* arg);
PISNP_API void trSetErrorProg(char* commandLine);
PISNP_API char* trGetErrorProg();
PISNP_API void trRouteErrToFile(FILE* file);
PISNP_API int trIsCommTracingEnabled();

// Begin, start, stop, close.
PISNP_API int trBegin(char* name, int announce);
PISNP_API void trStartTracing();
PISNP_API void trStopTracing();
PISNP_API int trGetTraceState();
PISNP_API int trTraceIsRunning();
PISNP_API int trIsStarted();
PISNP_API void trClose(int reset);
PISNP_API void trReset(int close);
PISNP_API int trInitializeStatusLog(char* dir, char* file, char* outPath);

// Output.
PISNP_API int trCanOutPut();
PISNP_API int trPrintf(const char* file, unsigned line, const char* fmt, ...);
PISNP_API int trVPrintf(const char* file, unsigned line, const char* fmt, va_list args);
PISNP_API int trPrintf(const char* file, unsigned line, const wchar_t* fmt, ...);
PISNP_API int trVPrintf(const char* file, unsigned line, const wchar_t* fmt, va_list args);
PISNP_API int trPrint(const char* fmt, ...);
PISNP_API int trPrint(const wchar_t* fmt, ...);
PISNP_API int trOutTSTrMessage(const char* text);
PISNP_API int trOutTrMessage(const char* text);
PISNP_API int trPrintStr(unsigned char* data, int len, CharForm form);
PISNP_API int trPrintFormattedDump(void* addr, unsigned len, unsigned char width);
PISNP_API int trQuery();
PISNP_API int trStatus(unsigned char what, char* out);

// Messages: numbered, diagnostic, and the error program.
PISNP_API int trNlsPrintf(const char* file, unsigned line, unsigned msgNum, ...);
PISNP_API int trLogDiagMsg(const char* file, unsigned line, unsigned char classFlag,
                           const char* fmt, ...);
PISNP_API int trLogDiagMsg(const char* file, unsigned line, unsigned char classFlag,
                           const wchar_t* fmt, ...);
PISNP_API int trNlsLogPrintf(const char* file, unsigned line, unsigned char classFlag,
                             unsigned msgNum, ...);
PISNP_API int doErrorProg(const char* text);

// The usual way code traces: nothing happens unless classFlag (a class's flag byte) is set.
template <typename C>
PISNP_API void TRACE_VA(unsigned char classFlag, const char* file, unsigned line, const C* fmt,
                        ...);
template <>
PISNP_API void TRACE_VA<char>(unsigned char classFlag, const char* file, unsigned line,
                              const char* fmt, ...);

// The usual form at a call site: TRACE(TR_MEMORY, "text %d\n", n).
#define TRACE(flag, ...) TRACE_VA<char>((flag), __FILE_NAME__, __LINE__, __VA_ARGS__)

// Traces function entry at construction and exit (with the result, when given) at destruction,
// under the classes ENTER and EXIT.
template <typename C>
class PISNP_API TREnterExit {
  public:
    TREnterExit(const char* file, unsigned line, const C* function, int* rc = nullptr);
    ~TREnterExit();
    TREnterExit(const TREnterExit&) = delete;
    TREnterExit& operator=(const TREnterExit&) = delete;

  private:
    const char* file_;
    unsigned line_;
    const C* function_;
    int* rc_;
};

extern template class TREnterExit<char>;
