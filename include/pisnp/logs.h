// The error, schedule, web and audit logs.
//
// A log is a DLogFile: one file that either wraps at a fixed size (a header records where the
// next line goes, and a full file starts again behind the header) or grows and is pruned by age
// when it is opened. Opening converts a log whose mode or maximum changed since the last run.
// Every line starts with the local date and time in the locale's formats.
//
// The four log objects exist for the whole process. The host sets one up with
// InitializeLogFile and opens it with utOpenOutputFile, before it logs from more than one
// thread; from then on lines may be written from any thread: error-log lines are serialised by
// the message system's recursive mutex (nls_mutex), audit lines across processes by the audit
// log's lock file when test flag SYNCAUDITLOG is set. A log object owns its open file; the
// save-file name stays the caller's. Logging needs a started message system (its mutex and its
// catalogs); without one the log functions write nothing.
//
// Safety, for a library that runs as root:
// - A pruned or converted log replaces the old one by renaming a finished temporary file of the
//   log's own directory ("arcprune<pid>.log") over it, never by copying into the old file, so
//   that a crash leaves either the old or the new log whole. The new file gets the old one's
//   permission bits.
// - Every file the logs open or create is opened without following a symbolic link, and the
//   temporary file is created only as a new file (a stale one of its name is removed first). A
//   log path that is a symbolic link is never opened: the link is deleted and the log stays off.
// - LogAuditMsg never writes into the caller's text (its trailing newline is left out of the
//   line, not removed from the text).
// - A wrapping maximum below 512 bytes is taken as 512; a line longer than a wrapping log can
//   hold is cut to fit; a plain log that becomes a wrapping one without a save name keeps its
//   lines in "<log>.save".
#pragma once

#include <pthread.h>

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cwchar>

#include "pisnp/dates.h"
#include "pisnp/files.h"
#include "pisnp/messages.h"
#include "pisnp_export.h"

class PISNP_API DLogFile {
  public:
    // Not wrapping, not enabled, no file.
    DLogFile();
    // Leaves the file open: the C library closes it when the process ends.
    ~DLogFile();
    DLogFile(const DLogFile&) = delete;
    DLogFile& operator=(const DLogFile&) = delete;

    // maxSize 0: a plain log pruned to retentionDays (10000: never) when opened; pruneMode 'S'
    // keeps pruned lines in saveName. wideFile 1: the log holds wide text. Disables the log.
    void InitializeLogFile(unsigned maxSize, char* saveName, unsigned retentionDays, char pruneMode,
                           unsigned option5, int wideFile);

    // Opens the log at path (creating its directories), converting it to the form set up:
    // the open file, or null (messages 1190 to 1192, 1398, 1521 tell why; lastErrno keeps the
    // errno). The wide form converts the path first.
    FILE* utOpenOutputFile(char* path);
    FILE* utOpenOutputFile(wchar_t* path);
    // Before a line of len bytes: wraps a full wrapping log and positions the file.
    void utCheckWrap(unsigned long len);
    // After a line: records the next line's offset in the header and writes the end marker.
    void utSetNextWrite();
    // Brings the existing log at path into the form set up; 0 or -1.
    int utWrapFile(char* path, int created);
    // Removes the lines older than retentionDays from the head of the plain log logName (file
    // is closed and left null), keeping them in saveName when it is not empty; 0 or -1.
    int utPruneFile(char* logName, const char* saveName, FILE*& file, unsigned retentionDays);
    // Creates the temporary file next to logName; its name goes to outName (4,100 bytes).
    FILE* openTemp(char* logName, char* outName);
    void SetCloseOnExec(FILE* f);
    void SetTimeOfLastMsg(nfDate& date);
    nfDate GetTimeOfLastMsg();
    // Creates dir and the directories above it: 0, -1, or the creation's return code.
    int utBuildPath(char* dir);

    char fileName[4100];      // the path as opened
    unsigned headerLength;    // the header's first line plus one
    nfDate timeOfLastMsg;     // of the last error-log line
    unsigned maxSize;         // wrapping size in bytes; 0 = not wrapping
    unsigned loggingEnabled;  // 1 while lines may be written
    unsigned wrapping;        // 1 when the open file is in wrapping form
    unsigned long nextWrite;  // offset of the next line of a wrapping file
    char* saveName;           // file for pruned lines (the caller's)
    unsigned retentionDays;   // pruning age; 10000 = never
    char pruneMode;           // 'S': save pruned lines
    unsigned lastErrno;       // errno of the last failure
    FILE* file;               // the open log, or null
    unsigned pruneFailed;     // 1 when the last pruning failed
    unsigned option5;         // kept for the caller
    int wideFile;             // 1 when the log holds wide text
};

static_assert(offsetof(DLogFile, fileName) == 0);
static_assert(offsetof(DLogFile, headerLength) == 4100);
static_assert(offsetof(DLogFile, timeOfLastMsg) == 4104);
static_assert(offsetof(DLogFile, maxSize) == 4112);
static_assert(offsetof(DLogFile, loggingEnabled) == 4116);
static_assert(offsetof(DLogFile, wrapping) == 4120);
static_assert(offsetof(DLogFile, nextWrite) == 4128);
static_assert(offsetof(DLogFile, saveName) == 4136);
static_assert(offsetof(DLogFile, retentionDays) == 4144);
static_assert(offsetof(DLogFile, pruneMode) == 4148);
static_assert(offsetof(DLogFile, lastErrno) == 4152);
static_assert(offsetof(DLogFile, file) == 4160);
static_assert(offsetof(DLogFile, pruneFailed) == 4168);
static_assert(offsetof(DLogFile, option5) == 4172);
static_assert(offsetof(DLogFile, wideFile) == 4176);
static_assert(sizeof(DLogFile) == 4184);

// The audit log, which writers of several processes may share.
class PISNP_API DAuditLogFile : public DLogFile {
  public:
    // Creates auditMutex; a failure is logged as message 2046.
    DAuditLogFile();
    ~DAuditLogFile();

    // Serialises audit writers: auditMutex, then the exclusive lock on "<fileName>.lck",
    // retried each second while another process holds it. When the lock file cannot be
    // created, only the mutex is held. 0, or -1.
    int lock();
    // 0, or -1 when the file lock could not be released (the mutex is released either way).
    int unlock();

    // A recursive mutex: the file lock belongs to the process, so threads of one process
    // exclude each other through this.
    pthread_mutex_t* auditMutex;
    class psFileLock lockFile;
};

// Constructed at load in this order, destroyed at exit in reverse.
PISNP_API extern DLogFile errorLogFile;
PISNP_API extern DLogFile schedLogFile;
PISNP_API extern DLogFile webLogFile;
PISNP_API extern DAuditLogFile auditLogFile;

// The end and wrap markers of wrapping logs (messages 11143 and 11144), loaded by the first
// utOpenOutputFile.
PISNP_API extern char endOfDataText[128];
PISNP_API extern char continuedText[128];

// 1 while the process runs scheduled work: message output then also goes to the schedule log.
PISNP_API extern int ScheduleMode;

// One error-log line: "<date> <time> <text>" and one newline. The characters written; 0 when
// logging is off; PISNP_RC_LOG_WRITE_FAILED (621) when the write failed (the log's lastErrno
// keeps why, and nothing of the line was written); 109 without message system or text. The wide
// form converts first (102 when it cannot).
PISNP_API int LogMsg(char* text);
PISNP_API int LogMsg(wchar_t* text);

// Compose message msgNum into a new text in out (the caller frees it with arcFree) and log it
// when its severity is W or above. The sprintf forms return the length (0 when there is no
// text); nlLogMessage returns out. nlLogvsprintf also puts the date and time in front of out
// when the message system stamps console messages.
PISNP_API int nlLogsprintf(char*& out, int msgNum, ...);
PISNP_API int nlLogsprintf(wchar_t*& out, int msgNum, ...);
PISNP_API int nlLogvsprintf(char*& out, int msgNum, va_list args);
PISNP_API int nlLogvsprintf(wchar_t*& out, int msgNum, va_list args);
PISNP_API char* nlLogMessage(char*& out, int msgNum, ...);
PISNP_API wchar_t* nlLogMessage(wchar_t*& out, int msgNum, ...);
// Raises the return code by msgNum; when enabled, composes and logs it as nlLogvsprintf does and
// hands the text to psLogMsg (pisnp/messages.h: severity 7 goes to the system log). 0, or -1
// when not enabled or there is no text.
PISNP_API int psLogNlsMsg(int msgNum, short sev, int enabled, ...);

// A schedule-log text: a text that ends a line ends it; the next one starts a new stamped line.
// Always 0.
PISNP_API int LogSchedMsg(char* text);
PISNP_API int LogSchedMsg(wchar_t* text);
// One audit-log line. A failure switches the audit log off and logs message 2046. 0 (the wide
// form: 1 when its line cannot be had).
PISNP_API int LogAuditMsg(char* text);
PISNP_API int LogAuditMsg(wchar_t* text);

// Pauses (0) or resumes (1) the error and schedule logs.
PISNP_API void SetMsgLoggingMode(int on);

// Formats event message ev->msgNum with the arguments at args (a va_list handed on as a
// pointer) behind an optional event header in buf (avail bytes), and sends it where ev->flags
// ask: 0x01 newline, 0x02 standard output, 0x04 error log, 0x08 event header, 0x20 the message
// output, 0x40 not the schedule log. The bytes added to buf, or 0.
PISNP_API unsigned short nlLogPrintf(eventLog_t* ev, char* buf, unsigned short avail, char* args);
