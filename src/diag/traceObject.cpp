// The trace object: creation, destination and size options, begin, close and reset.
#include <pthread.h>
#include <strings.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "pisnp/dates.h"
#include "base/sysCalls.h"
#include "diag/buildInfo.h"
#include "diag/messageLog.h"
#include "diag/traceInternal.h"
#include "mem/checkedAlloc.h"
#include "nls/nlsMessageApi.h"
#include "pisnp/files.h"
#include "pisnp/hostAnchor.h"
#include "pisnp/resultCodes.h"
#include "pisnp/tokens.h"

using namespace trace_detail;

TraceObject* traceObj = nullptr;

namespace {

TraceObject traceObjStatic;

constexpr size_t kMaxNameLen = 4096;
constexpr unsigned kAllSegments = 0xFFFFFFFFu;

const char* const kClientLabels[] = {
    "[ctCLBackup  ]", "[ctCLAdmin   ]", "[ctGUIBackup ]", "[ctODBCDriver]", "[ctCLAPI     ]",
    "[ctCLSpaceMGT]", "[ctDICAD     ]", "[ctDIWebClien]", "[ctJBBDaemon ]", "[ctUtlAppl   ]",
    "[ctCLUtlAppl ]", "[ctGUIUtlAppl]", "[ctDIJavaGUI ]",
};

bool isSpecialName(const char* name, const char* special) {
    return strcasecmp(name, special) == 0;
}

bool isSpecialName(const char* name) {
    return isSpecialName(name, "STDOUT") || isSpecialName(name, "STDERR") ||
           isSpecialName(name, "CONSOLE");
}

bool validName(const char* name) {
    return name != nullptr && *name != '\0' && std::strlen(name) <= kMaxNameLen;
}

// Strips one level of quotes; false when the quoting is malformed.
bool unquote(const char* name, char* out) {
    if (*name != '"' && *name != '\'') {
        std::strcpy(out, name);
        return true;
    }
    char copy[kTokenSize];
    std::strcpy(copy, name);
    char* p = copy;
    return GetQuotedToken(&p, out) == 0;
}

// The full path of a file name; false when it does not fit the object's name fields.
bool fullPath(char* name, char* out, size_t size) {
    char path[2 * kTokenSize + 2];
    std::strcpy(path, name);
    psBuildCurrentPath(path, name);
    if (std::strlen(path) >= size) return false;
    std::strcpy(out, path);
    return true;
}

void traceDateLine() {
    nfDate now;
    char date[16];
    char time[16];
    dateLocal(&now);
    dateFmt(&now, date, time);
    trPrintf(kSource, __LINE__,
             "----------------------------------------------------------------\n"
             "%s %s - Trace begun.\n",
             date, time);
}

// A link could point the trace at any file the process may write: refuse it and remove the link
// so that the next start creates a plain file.
int refuseLink(char* full) {
    char target[PATH_MAX + 1] = "";
    psIsFileSymLink(full, target);
    nlprintf(1193, full);
    if (psDeleteSymLink(full) == 0) {
        nlprintf(1190, full, target);
        char* text = nullptr;
        if (nlLogMessage(text, 1193, full) != nullptr) arcFree(text, kSource, __LINE__);
        text = nullptr;
        if (nlLogMessage(text, 1190, full, target) != nullptr) arcFree(text, kSource, __LINE__);
    } else {
        nlprintf(1191, full);
    }
    return PISNP_RC_SYMLINK_REFUSED;
}

void writeUnboundedHeader(FILE* f) {
    std::fprintf(f, "BKP Trace   %s \nBuild Date: %s\nBEGINNING NEW TRACE\n\n",
                 pisnp::kProductBanner, pisnp::kBuildDate);
    std::fflush(f);
}

}  // namespace

namespace trace_detail {

void clearClassesButFirst() {
    for (const TrClass* c = ClassTable + 1; c->name != nullptr; ++c) setClass(*c->flag, 0);
}

const char* clientLabel(cliType_t clientType) {
    int i = static_cast<int>(clientType);
    return i >= 0 && i < static_cast<int>(sizeof kClientLabels / sizeof kClientLabels[0])
               ? kClientLabels[i]
               : "[ctUnkown    ]";
}

ObjectLock::ObjectLock(TraceObject* t) : t_(t) {
    pthread_mutex_lock(&t_->objectLock);
}

ObjectLock::~ObjectLock() {
    release();
}

void ObjectLock::release() {
    if (t_ != nullptr) pthread_mutex_unlock(&t_->objectLock);
    t_ = nullptr;
}

}  // namespace trace_detail

int new_TraceObject(cliType_t clientType, unsigned long thread, trTidProc_t tidProc) {
    ErrnoKeeper keep;
    if (traceObj != nullptr) return 0;
    TraceObject* t = &traceObjStatic;
    clearClassesButFirst();
    for (const TestClass* c = TestClassTable; c->name != nullptr; ++c) {
        c->flag->on = 0;
        c->flag->value = 0;
        if (c->flag->text != nullptr) arcFree(c->flag->text, kSource, __LINE__);
        c->flag->text = nullptr;
    }
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&t->objectLock, &attr);
    pthread_mutexattr_destroy(&attr);

    t->lastThread.store(thread);
    t->clientType = clientType;
    t->stream.store(nullptr);
    t->errorFile = nullptr;
    t->errorProg[0] = '\0';
    t->commTracing.store(0);
    t->baseFileName[0] = '\0';
    t->traceFileName[0] = '\0';
    t->defaultsPending = 1;
    t->errorProgFailed.store(0);
    t->consoleMode.store(0);
    t->tracingState.store(0);
    t->consoleCallback = nullptr;
    t->consoleCallbackArg = nullptr;
    t->tidProc = tidProc;
    t->stdoutAllowed.store(1);
    t->wrapEnabled.store(0);
    t->maxSizeMB = t->segSizeMB = t->lastSegSizeMB = 0;
    t->segmentCount = 0;
    t->currentSegment = 1;
    t->previousSegment = 0;
    t->segmentSwitching = 0;
    t->running.store(0);
    t->sizeOptionGiven = 0;
    traceObj = t;
    return 0;
}

void delete_TraceObject() {
    ErrnoKeeper keep;
    if (TraceObject* t = traceObj) {
        // A destination still open would otherwise stay open for the rest of the process.
        if (t->stream.load() != nullptr) trClose(0);
        pthread_mutex_destroy(&t->objectLock);
        traceObj = nullptr;
    }
    clearClassesButFirst();
    for (const TestClass* c = TestClassTable; c->name != nullptr; ++c) {
        if (c->flag->text != nullptr) arcFree(c->flag->text, kSource, __LINE__);
        c->flag->text = nullptr;
    }
}

int trTIDProc(char* banner, char* tidText) {
    ErrnoKeeper keep;
    *banner = '\0';
    unsigned long self = static_cast<unsigned long>(pthread_self());
    TraceObject* t = traceObj;
    if (t != nullptr && t->lastThread.exchange(self) != self) {
        const char* name = "New";
        int number = 0;
        if (GAnchorP != nullptr) {
            if (HostThreadDesc* d = GAnchorP->getThreadDesc(0)) {
                const char* given = d->getName();
                if (given != nullptr && *given != '\0') name = given;
                number = d->getNumber();
            }
        }
        const char* word = "       ";
        if (t->clientType == ctDICAD) word = "CAD    ";
        if (t->clientType == ctDIWebClient || t->clientType == ctDIJavaGUI) word = "Agent  ";
        std::snprintf(banner, kPrefixSize, "\n%32.64s thread %s%2d================>\n", name, word,
                      number);
    }
    return std::sprintf(tidText, "[%u] ", static_cast<unsigned>(self));
}

int trSetTraceFileNameNoLink(char* name) {
    ErrnoKeeper keep;
    TraceObject* t = traceObj;
    char bare[kTokenSize];
    if (t == nullptr || !validName(name) || !unquote(name, bare) || *bare == '\0') {
        std::puts("Invalid trace file name");
        return -1;
    }
    if (isSpecialName(bare)) {
        std::strcpy(t->traceFileName, bare);
        return 0;
    }
    char full[sizeof t->baseFileName];
    if (!fullPath(bare, full, sizeof full)) {
        std::puts("Invalid trace file name");
        return -1;
    }
    if (t->baseFileName[0] == '\0') std::strcpy(t->baseFileName, full);
    std::strcpy(t->traceFileName, t->baseFileName);
    if (t->segmentCount >= 2) {
        size_t len = std::strlen(t->traceFileName);
        std::snprintf(t->traceFileName + len, sizeof t->traceFileName - len, ".%u",
                      t->currentSegment);
    }
    return 0;
}

int trSetTraceFileName(char* name) {
    ErrnoKeeper keep;
    TraceObject* t = traceObj;
    char bare[kTokenSize];
    if (t == nullptr || !validName(name) || !unquote(name, bare) || *bare == '\0') {
        nlprintf(1824);
        return -1;
    }
    if (t->traceFileName[0] != '\0') return 0;
    ObjectLock lock(t);
    if (isSpecialName(bare)) {
        std::strcpy(t->traceFileName, bare);
        return 0;
    }
    char full[sizeof t->baseFileName];
    if (!fullPath(bare, full, sizeof full)) {
        nlprintf(1824);
        return -1;
    }
    if (psIsFileSymLink(full, nullptr) != PISNP_RC_NOT_FOUND) return refuseLink(full);
    std::strcpy(t->traceFileName, full);
    return 0;
}

char* trGetTraceFileName() {
    return traceObj != nullptr ? traceObj->traceFileName : nullptr;
}

int trSetMaxTraceSize(unsigned int mb) {
    TraceObject* t = traceObj;
    if (t == nullptr) return 0;
    t->sizeOptionGiven = 1;
    if (mb == 0) {
        t->wrapEnabled.store(0);
        t->maxSizeMB = 0;
        return 0;
    }
    t->maxSizeMB = mb;
    t->wrapEnabled.store(1);
    if (t->segSizeMB != 0)
        trSetMaxTraceSegSize(t->segSizeMB);
    else if (mb > 1000)
        trSetMaxTraceSegSize(1000);
    markWrapLockInitialised();
    return 0;
}

int trSetMaxTraceSegSize(unsigned int mb) {
    TraceObject* t = traceObj;
    if (t == nullptr) return 0;
    t->sizeOptionGiven = 1;
    if (mb == 0) {
        t->segSizeMB = t->lastSegSizeMB = 0;
        t->currentSegment = 1;
        t->previousSegment = 0;
        t->segmentSwitching = 0;
        t->segmentCount = 0;
        return 0;
    }
    if (t->maxSizeMB == 0) {
        t->segmentCount = kAllSegments;
        t->lastSegSizeMB = mb;
        t->segSizeMB = mb;
    } else {
        unsigned s = mb < t->maxSizeMB ? mb : t->maxSizeMB;
        t->segmentCount = (t->maxSizeMB - 1) / s + 1;
        t->lastSegSizeMB = t->maxSizeMB % s != 0 ? t->maxSizeMB % s : s;
        t->segSizeMB = s;
    }
    t->wrapEnabled.store(1);
    markWrapLockInitialised();
    return 0;
}

void trSetNoStdout() {
    if (traceObj != nullptr) traceObj->stdoutAllowed.store(0);
}

void trInstallConsoleCallback(trConsoleCallback_t callback, void* arg) {
    if (TraceObject* t = traceObj) {
        t->consoleCallback = callback;
        t->consoleCallbackArg = arg;
    }
}

void trSetErrorProg(char* commandLine) {
    TraceObject* t = traceObj;
    if (t == nullptr) return;
    if (commandLine == nullptr) {
        t->errorProg[0] = '\0';
        return;
    }
    std::snprintf(t->errorProg, sizeof t->errorProg, "%s", commandLine);
}

char* trGetErrorProg() {
    return traceObj != nullptr ? traceObj->errorProg : nullptr;
}

void trRouteErrToFile(FILE* file) {
    if (traceObj != nullptr) traceObj->errorFile = file;
}

int trIsCommTracingEnabled() {
    return traceObj != nullptr ? traceObj->commTracing.load() : 0;
}

int trBegin(char* name, int announce) {
    ErrnoKeeper keep;
    TraceObject* t = traceObj;
    if (t == nullptr) return -1;
    WrapLock wrap;
    ObjectLock lock(t);
    int rc = trSetTraceFileNameNoLink(name);
    if (rc != 0) return rc;
    if (t->stream.load() != nullptr) return 0;

    const char* target = t->traceFileName;
    if (isSpecialName(target, "CONSOLE")) {
        if (t->consoleCallback != nullptr) {
            if (t->consoleCallback(trConsoleOpen, nullptr, t->consoleCallbackArg) == 0) {
                t->consoleMode.store(1);
                t->wrapEnabled.store(0);
                t->tracingState.store(1);
                t->stream.store(stderr);
                std::puts("Tracing to stderr");
            } else {
                t->consoleMode.store(0);
            }
        }
    } else if (isSpecialName(target, "STDOUT") || isSpecialName(target, "STDERR")) {
        bool out = isSpecialName(target, "STDOUT");
        t->wrapEnabled.store(0);
        t->stream.store(out ? stdout : stderr);
        trPrintf(kSource, __LINE__, out ? "Tracing to stdout\n" : "Tracing to stderr\n");
    } else {
        bool opened;
        if (t->wrapEnabled.load()) {
            opened = openBoundedFile(t);
        } else {
            FILE* f = openTraceFile(target, TraceOpen::append);
            opened = f != nullptr;
            if (opened) {
                t->stream.store(f);
                writeUnboundedHeader(f);
            }
        }
        if (!opened) {
            // A link put in the file's place after its name was checked (or a segment's).
            int rc = PISNP_RC_TRACE_OPEN_FAILED;
            if (errno == ELOOP) {
                char name[sizeof t->traceFileName];
                std::strcpy(name, target);
                rc = refuseLink(name);
            } else if (t->stdoutAllowed.load()) {
                std::printf("Unable to open trace output file %s\n", target);
            }
            lock.release();
            trReset(1);
            return rc;
        }
        if (!t->running.load()) {
            if (t->sizeOptionGiven) {
                t->tracingState.store(1);
                setClass(TR_TIMESTAMP, 1);
                setClass(TR_PREFIX, 1);
            }
            if (announce) {
                trPrintf(kSource, __LINE__, "Tracing to file: %s\n", t->traceFileName);
                trPrintf(kSource, __LINE__, "Tracefile maximum length set to %lu MB.\n",
                         static_cast<unsigned long>(t->maxSizeMB));
                traceDateLine();
            }
            t->tracingState.store(1);
        }
    }
    t->running.store(1);
    return 0;
}

void trStartTracing() {
    TraceObject* t = traceObj;
    if (t != nullptr && t->traceFileName[0] != '\0') t->tracingState.store(1);
}

void trStopTracing() {
    if (traceObj != nullptr) traceObj->tracingState.store(0);
}

int trGetTraceState() {
    return traceObj != nullptr ? traceObj->tracingState.load() : 0;
}

int trTraceIsRunning() {
    return traceObj != nullptr ? traceObj->running.load() : 0;
}

int trIsStarted() {
    return trTraceIsRunning();
}

void trClose(int reset) {
    ErrnoKeeper keep;
    TraceObject* t = traceObj;
    if (t == nullptr) return;
    // Writers to a bounded file hold the wrap lock: closing under it means none of them is
    // half-way through a write on the stream that goes away.
    WrapLock wrap;
    bool wasWrapping = t->wrapEnabled.load() != 0;
    if (reset) trReset(0);
    if (!t->segmentSwitching) {
        if (t->consoleCallback != nullptr)
            t->consoleCallback(trConsoleClose, nullptr, t->consoleCallbackArg);
        t->consoleMode.store(0);
    }
    FILE* s = t->stream.load();
    if (s != nullptr && !isStdStream(s)) {
        if (wasWrapping && !t->segmentSwitching) {
            markWrapLockDestroyed();
            writeAtNext("\nEND OF DATA - close\n\n");
        }
        if (pisnp::sys::fclose(s) != 0)
            std::printf("Unable to close trace output file %s: %s \n", t->traceFileName,
                        std::strerror(errno));
    }
    t->stream.store(nullptr);
    t->traceFileName[0] = '\0';
}

void trReset(int close) {
    ErrnoKeeper keep;
    TraceObject* t = traceObj;
    if (t == nullptr) return;
    WrapLock wrap;
    ObjectLock lock(t);
    clearClassesButFirst();
    if (close) trClose(0);
    t->maxSizeMB = t->segSizeMB = 0;
    t->wrapEnabled.store(0);
    t->sizeOptionGiven = 0;
    t->running.store(0);
    t->defaultsPending = 1;
    t->baseFileName[0] = '\0';
}

int trInitializeStatusLog(char* dir, char* file, char* outPath) {
    ErrnoKeeper keep;
    TraceObject* t = traceObj;
    if (dir == nullptr || file == nullptr) return PISNP_RC_INVALID_ARG;
    if (t == nullptr) return PISNP_RC_INVALID_ARG;
    char path[2 * kTokenSize + 2];
    if (t->running.load()) {
        char classes[] = "STATUSLOG";
        trEnable(classes, 1);
        std::snprintf(path, sizeof path, "%s", t->traceFileName);
    } else {
        std::snprintf(path, sizeof path, "%s/%s", dir, file);
        char on[] = "STATUSLOG";
        char onNoPrefix[] = "STATUSLOG -PREFIX";
        trEnable(t->tracingState.load() ? on : onNoPrefix, 1);
        size_t len = std::strlen(path);
        char* copy = static_cast<char*>(arcMalloc(len + 1, kSource, __LINE__));
        if (copy == nullptr) return PISNP_RC_NO_MEMORY;
        std::memcpy(copy, path, len + 1);
        trBegin(copy, 0);
        arcFree(copy, kSource, __LINE__);
    }
    if (outPath != nullptr) std::strcpy(outPath, path);
    return 0;
}
