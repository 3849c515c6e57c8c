// The message system: numbered messages read from the message catalogs of the client directory
// ("<dir>/<LANGUAGE>/arcclientV3.cat", always with an American English "EN_US" one), formatted
// with their inserts in the order a translation puts them, and written, logged or returned.
//
// Start-up: newNlsGlobalObject reads the locale and opens the code-set converters, nlinit opens
// the catalogs; nlterm closes them. Both are called from one thread while no other thread uses
// messages. Afterwards any thread may call the message functions: each looks its message up and
// formats it under nls_mutex, a recursive process-wide mutex, so a message call made while
// formatting another does not deadlock. Texts returned in an `out` argument come from the checked
// allocator and belong to the caller (arcFree); records in the caches belong to the object.
//
// Variable argument lists: every insert occupies one argument; width and precision values that a
// message's format asks for with "*" come before their value, as ints, width first.
#pragma once

#include <nl_types.h>
#include <pthread.h>

#include <cstdarg>
#include <cstddef>
#include <cstdio>

#include "pisnp_export.h"

// Client types: which kind of client program the runtime works for. Stored by the message system
// and the trace facility; types 4, 9, 10 and 11 change their behaviour.
enum cliType_t : int {
    ctCLBackup = 0,
    ctCLAdmin = 1,
    ctGUIBackup = 2,
    ctODBCDriver = 3,
    ctCLAPI = 4,  // prints nothing on the console
    ctCLSpaceMGT = 5,
    ctDICAD = 6,
    ctDIWebClient = 7,
    ctJBBDaemon = 8,
    ctUtlAppl = 9,  // the plug-in: the host's locale is only queried, never set
    ctCLUtlAppl = 10,
    ctGUIUtlAppl = 11,
    ctDIJavaGUI = 12,
};

// Severity codes of catalog messages and their letters in the identifier. Codes K to S keep the
// identifier in the text; from W on, messages are logged.
enum nlsSeverity_t : unsigned char {
    nlsSevZ = 0,        // Z
    nlsSevTrace = 1,    // T
    nlsSevR = 2,        // R
    nlsSevK = 3,        // K
    nlsSevInfo = 4,     // I
    nlsSevWarning = 5,  // W
    nlsSevError = 6,    // E
    nlsSevSevere = 7,   // S: also sent to the system log by psLogMsg
    nlsSevL = 8,        // L
};

// Longest repository name and directory the message system accepts (with their terminators).
inline constexpr int kNlsReposNameMax = 4352;
inline constexpr int kNlsDirMax = 4097;
// The catalog file of every language directory.
inline constexpr char kNlsCatalogFile[] = "arcclientV3.cat";
// Work areas of the message object: composed error texts, and one message's formatted inserts.
inline constexpr int kNlsWorkBufSize = 17469;
inline constexpr int kNlsScratchSize = 17472;
// Most insert slots a message body may have.
inline constexpr int kNlsMaxSlots = 12;

// Filled for the caller of nlinit.
struct nlsReturnInfo_t {
    char name[kNlsReposNameMax];  // the repository name, then the message locale chosen
    unsigned int dateFmt;
    unsigned int timeFmt;
    unsigned int numberFmt;
};

// One cached message: a checked heap block of text length + 45 bytes, zero-filled.
struct nlsMsg {
    nlsMsg* next;  // circular list; both null when in no list
    nlsMsg* prev;
    unsigned short number;
    unsigned char severity;  // nlsSeverity_t
    char response[16];       // the entry's response string, empty if none
    char text[1];            // identifier and blank and body, or the body alone; longer in fact
};

// The event record of nlEventMessage and the event logger.
struct eventLog_t {
    unsigned short msgNum;    // input
    unsigned short msgLen;    // the formatted message's length (event logger)
    unsigned char eventType;  // by severity: T 7, I 2, W 3, E 4, S 5, others 0
    unsigned char insertCount;
    unsigned char flags;  // the event logger's destinations
};

// A growing output buffer of a composed message, in 8 KB steps. The text is kept terminated.
class PISNP_API nlsBuffer {
  public:
    static constexpr unsigned int INIT_SIZE_KB = 8;

    nlsBuffer();                          // no block yet
    explicit nlsBuffer(unsigned int kb);  // max(kb, 8) KB, zero-filled
    virtual ~nlsBuffer();
    nlsBuffer(const nlsBuffer&) = delete;
    nlsBuffer& operator=(const nlsBuffer&) = delete;

    virtual bool isChar() const = 0;
    // Appends n characters of text (all of it when n is 0); the new length in bytes, 0 when the
    // buffer could not grow.
    virtual unsigned long addToBuffer(char* text, unsigned long n) = 0;

    void* getBuffer();
    unsigned long getMsgLen();  // bytes, terminator excluded
    // Makes room for needed bytes: grows to the next multiple of 8 KB above needed. When that
    // fails the text is dropped and the buffer stays empty.
    void checkBuffer(unsigned long needed);

  protected:
    void* buffer_;
    unsigned long capacity_;  // KB
    unsigned long length_;    // bytes
};

// 8-bit text in the local code set.
class PISNP_API nlsCharBuffer : public nlsBuffer {
  public:
    nlsCharBuffer() = default;
    explicit nlsCharBuffer(unsigned int kb) : nlsBuffer(kb) {}
    bool isChar() const override;
    unsigned long addToBuffer(char* text, unsigned long n) override;
    unsigned long addToBuffer(wchar_t* text, unsigned long n);  // converted to multibyte
};

// Wide text; 8-bit text is converted from the local code set as it is appended.
class PISNP_API nlsWcharBuffer : public nlsBuffer {
  public:
    nlsWcharBuffer() = default;
    explicit nlsWcharBuffer(unsigned int kb) : nlsBuffer(kb) {}
    bool isChar() const override;
    unsigned long addToBuffer(char* text, unsigned long n) override;
    unsigned long addToBuffer(wchar_t* text, unsigned long n);
};

// The one message-catalog object of the process (getNlsGlobalObjectHandle).
struct PISNP_API nlsObject_t {
    void (*outputs[9])(char*);  // text sink per severity code; the default prints to stdout
    char msgPrefix[8];          // "ANS"
    nlsMsg* localCache;         // most recently used first
    nlsMsg* englishCache;
    FILE* localRepos;  // streams of the older index-file repository; never opened here
    FILE* englishRepos;
    char* reposName;  // repository last named in a warning; owned
    char workBuf[kNlsWorkBufSize];
    unsigned int cacheLimit;  // records per cache
    nl_catd localCat;         // (nl_catd)-1 when closed
    nl_catd englishCat;
    int englishFlag;  // one-shot: the next GetMsg reads English
    int initialised;  // 1 between nlinit and nlterm
    char insertScratch[kNlsScratchSize];
    int schedLineStart;  // the schedule log's last text ended a line
    cliType_t clientType;
    int consoleTimeStamp;  // date and time before console messages

    // Catalogs. initMsgSys: 0, or 610 when the English catalog cannot be opened or a name is too
    // long. openCat: 0 opened, 2 not.
    int initMsgSys(char* reposName, char* reposFile, cliType_t clientType, int cacheSize,
                   const char* dsDir, nlsReturnInfo_t* retInfo);
    int termMsgSys();
    int openCat(const char* dsdir, const char* lang, const char* reposFile, void*& catP);
    // A new record for msgNum from the English or the local catalog, or null (reported).
    nlsMsg* ReadMsg(unsigned int msgNum, int english);
    // The cached record for msgNum, read on a miss; null when there is none. Hold nls_mutex
    // while using it.
    nlsMsg* GetMsg(unsigned int msgNum);
    unsigned short ReadIndex(unsigned int msgNum, int english);
    void AddList(nlsMsg** head, nlsMsg* m);
    void DeleteList(nlsMsg** head, nlsMsg* m);
    void FlushNLSCache(nlsMsg** head);

    // Formats a message body with the caller's arguments. Buffers: the length in bytes after
    // appending. Arrays (the caller guarantees room): the length in characters.
    int nlOrderInsert(nlsCharBuffer* out, char* body, va_list args);
    int nlOrderInsert(nlsWcharBuffer* out, char* body, va_list args);
    int nlOrderInsert(char* out, char* body, va_list args);
    int nlOrderInsert(wchar_t* out, char* body, va_list args);

    // Composes message msgNum into a new text (null when there is none); *sev gets the
    // severity, 0 without a message.
    char* nlVmessage(int msgNum, char*& out, va_list args, unsigned char* sev);
    wchar_t* nlVmessage(int msgNum, wchar_t*& out, va_list args, unsigned char* sev);
    // Event type, insert count and one item per insert at *cursor. 1, or 0 without a message.
    int nlEventMessage(eventLog_t* ev, char** cursor, va_list args);
};

// The recursive mutex around every message lookup; from initMsgSys to termMsgSys.
PISNP_API extern pthread_mutex_t* nls_mutex;

// Sends text to the object's output for severity sev (a private copy; nothing if none can be had).
PISNP_API void msgOut(int sev, char* text);
// At most 7 characters.
PISNP_API void setNlsGlobalObjectMsgPrefix(char* prefix);

// Composition. nlMessage returns out; the sprintf forms the length of the text (bytes for 8-bit,
// characters for the wide English forms), 0 when there is none. Eng forms read the American
// English catalog whatever the locale.
PISNP_API char* nlMessage(char*& out, int msgNum, ...);
PISNP_API wchar_t* nlMessage(wchar_t*& out, int msgNum, ...);
PISNP_API char* nlEngMessage(char*& out, int msgNum, ...);
PISNP_API wchar_t* nlEngMessage(wchar_t*& out, int msgNum, ...);
PISNP_API int nlsprintf(char*& out, int msgNum, ...);
PISNP_API int nlsprintf(wchar_t*& out, int msgNum, ...);
PISNP_API int nlvsprintf(char*& out, int msgNum, va_list args);
PISNP_API int nlvsprintf(wchar_t*& out, int msgNum, va_list args);
PISNP_API int nlEngsprintf(char*& out, int msgNum, ...);
PISNP_API int nlEngsprintf(wchar_t*& out, int msgNum, ...);
PISNP_API int nlEngvsprintf(char*& out, int msgNum, va_list args);
PISNP_API int nlEngvsprintf(wchar_t*& out, int msgNum, va_list args);

// Output: records msgNum in the process's return code, logs W and above, and writes the text to
// the output for its severity (nlprintf, nlvfprintf) or to stream (nlfprintf). Client type 4
// writes nothing to the console. All return 0.
PISNP_API int nlvfprintf(FILE* stream, int msgNum, va_list args);
PISNP_API int nlprintf(int msgNum, ...);
PISNP_API int nlfprintf(FILE* stream, int msgNum, ...);

// The severity code; 255 without such a message, 6 when the mutex is missing.
PISNP_API int nlGetMsgSev(int msgNum);
// Copies the response string into out (16 bytes). 0; -1 without the message or the mutex.
PISNP_API int nlresponse(int msgNum, char* out);
// The message's template, a "*" at each insert, into out. 0.
PISNP_API int nlapimsg(int msgNum, char* out, unsigned char english);

// Formats one wide string field of width and precision (0: none) as fmt asks.
PISNP_API void ParseFmt(char* fmt, wchar_t* out, unsigned int width, unsigned int precision,
                        wchar_t* s);
// In place: every character without a multibyte form becomes "_".
PISNP_API void scrubChars(wchar_t* s);
// Writes one event item (big-endian length, type, payload) at *cursor and advances it.
// Types: 1 character, 2 16-bit value, 3 16-bit value in 32 bits, 5 string.
PISNP_API void nlInsertItem(char** cursor, short type, int wide, void* value);

// ---- Start-up, the locale, and its formats ----------------------------------------------------

// The locale as start-up found it. Written by psEnvInit and initMsgSys only.
PISNP_API extern char Locale[85];     // LANG, or the LC_MESSAGES locale, or "C"
PISNP_API extern char Language[85];   // Locale up to its first ".", normalised
PISNP_API extern char CodePage[85];   // the locale's code set, or "UTF-8"
PISNP_API extern char arcLocale[85];  // upper-case language of the catalog directory
PISNP_API extern int CodePageId;      // 819 ISO8859-1, 850, else 367
PISNP_API extern int actualNLSCode;   // 4 for a supported language, 1 otherwise
// Code-page selectors, set by nlinit from the test flags.
PISNP_API extern int logMsgCodepage;
PISNP_API extern int msgReposCodepage;
PISNP_API extern int displayCodepage;
PISNP_API extern int inputCodepage;

// Resets the object (outputs: 9 sinks, null entries get the default; null for all defaults),
// reads the locale (mode 1: from the environment) and opens the converters. Never null.
PISNP_API nlsObject_t* newNlsGlobalObject(void (**outputs)(char*), int mode);
PISNP_API nlsObject_t* newDefaultNlsGlobalObject();
// Flushes the caches, frees the repository name and closes the converters. 0.
PISNP_API int destroyNlsGlobalObject();
PISNP_API void destroyNlsGlobalCache();
PISNP_API nlsObject_t* getNlsGlobalObjectHandle();

// Opens the catalogs reposName (the local repository for client types 9 to 11) and reposFile
// (English; null or empty: arcclientV3.cat) below dsDir, and applies the formats (0: the
// locale's). 0; 610 when reposName is missing or empty or the English catalog cannot be opened.
PISNP_API int nlinit(char* reposName, int cacheSize, char* dsDir, cliType_t clientType,
                     unsigned int dateFmt, unsigned int timeFmt, unsigned int numberFmt,
                     nlsReturnInfo_t* retInfo, char* reposFile);
PISNP_API int nlinit(wchar_t* reposName, int cacheSize, wchar_t* dsDir, cliType_t clientType,
                     unsigned int dateFmt, unsigned int timeFmt, unsigned int numberFmt,
                     nlsReturnInfo_t* retInfo, wchar_t* reposFile);
PISNP_API int NlinitSetup(char* reposName, char* reposFile, int cacheSize, char* dsDir,
                          cliType_t clientType, unsigned int dateFmt, unsigned int timeFmt,
                          unsigned int numberFmt, nlsReturnInfo_t* retInfo);
// Closes the catalogs; the result of destroying the mutex.
PISNP_API int nlterm();
// Reads the locale; 4 for a supported language, else 1.
PISNP_API int psEnvInit(int mode);

// Apply the current date, time and number format selectors, or store one and apply it
// (pisnp/dates.h holds the formats).
PISNP_API void setDateFmt();
PISNP_API void setDateFmt(int fmt);
PISNP_API void setTimeFmt();
PISNP_API void setTimeFmt(int fmt);
PISNP_API void setNumberFmt();
PISNP_API void setNumberFmt(int fmt);

// "enu".
PISNP_API void getDefaultLangAbbrev(char* out);
// The language in upper case, "/", "arcclientV3.cat".
PISNP_API void getDefaultLangRepos(char* out, int, char*);
// When enabled, a severity 7 text goes to the system log.
PISNP_API void psLogMsg(short sev, char* text, int enabled);
// Answers of other platforms: 0, 0, nothing.
PISNP_API int queryRegistryForLanguages();
PISNP_API int psSetCodePage();
PISNP_API void psConvertOemString(char* text);
