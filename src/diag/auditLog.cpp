// The audit log: its lines, and the lock that lets writers of several processes share it.
#include <pthread.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "base/sysCalls.h"
#include "diag/logFile.h"
#include "mem/checkedAlloc.h"
#include "pisnp/threads.h"
#include "pisnp/trace.h"

namespace {

constexpr char kBlockSource[] = "amsglog.cpp";
constexpr int kAuditFailed = 2046;

// Switches the audit log off and says why.
void auditFailed(int err) {
    auditLogFile.loggingEnabled = 0;
    auditLogFile.lastErrno = static_cast<unsigned>(err);
    if (err == 0) return;
    char* out = nullptr;
    nlLogMessage(out, kAuditFailed, std::strerror(err), err, auditLogFile.fileName);
    if (out != nullptr) arcFree(out, kBlockSource, __LINE__);
}

}  // namespace

DAuditLogFile::DAuditLogFile() : auditMutex(nullptr) {
    auto* m =
        static_cast<pthread_mutex_t*>(arcMalloc(sizeof(pthread_mutex_t), kBlockSource, __LINE__));
    int rc = m != nullptr ? arcMutexInit(m, nullptr) : ENOMEM;
    if (rc == 0) {
        auditMutex = m;
        return;
    }
    if (m != nullptr) arcFree(m, kBlockSource, __LINE__);
    char* out = nullptr;
    nlLogMessage(out, kAuditFailed, std::strerror(rc), rc, fileName);
    if (out != nullptr) arcFree(out, kBlockSource, __LINE__);
}

DAuditLogFile::~DAuditLogFile() {
    if (auditMutex == nullptr) return;
    pthread_mutex_destroy(auditMutex);
    arcFree(auditMutex, kBlockSource, __LINE__);
    auditMutex = nullptr;
}

int DAuditLogFile::lock() {
    if (auditMutex == nullptr) return -1;
    if (pthread_mutex_lock(auditMutex) != 0) return -1;
    char name[sizeof fileName + 8];
    std::snprintf(name, sizeof name, "%s.lck", fileName);
    if (lockFile.createLockFile(name, 0) != 1) return 0;
    for (;;) {
        if (lockFile.lockExclusive(0) == 1) return 0;
        int err = errno;
        if (err != EACCES && err != EAGAIN) {
            pthread_mutex_unlock(auditMutex);
            errno = err;
            return -1;
        }
        pisnp::sys::sleep(1);
    }
}

int DAuditLogFile::unlock() {
    int rc = 0;
    if (lockFile.fd >= 0) {
        rc = lockFile.unlock() == 1 ? 0 : -1;
        int err = errno;
        lockFile.closeLockFile();
        errno = err;
    }
    if (auditMutex != nullptr) pthread_mutex_unlock(auditMutex);
    return rc;
}

int LogAuditMsg(char* text) {
    DAuditLogFile& log = auditLogFile;
    if (text == nullptr || log.loggingEnabled != 1 || log.file == nullptr) return 0;
    bool locked = false;
    if (TEST_SYNCAUDITLOG.on != 0) {
        if (log.lock() != 0) {
            auditFailed(errno);
            return 0;
        }
        locked = true;
    }
    char date[16], time[16];
    logfile::stampNow(date, time);
    // The caller's text is left as it is: its one trailing newline is simply not copied.
    size_t tl = std::strlen(text);
    if (tl > 0 && text[tl - 1] == '\n') --tl;
    size_t size = tl + 34;
    auto* line = static_cast<char*>(arcMalloc(size, kBlockSource, __LINE__));
    int err;
    if (line != nullptr) {
        int n = std::snprintf(line, size, "%s %s %.*s\n", date, time, static_cast<int>(tl), text);
        err = logfile::writeLine(log, line, static_cast<size_t>(n));
        arcFree(line, kBlockSource, __LINE__);
    } else {
        // Without a block the stamp is sent first: the line may then be split by another writer.
        char head[40];
        int h = std::snprintf(head, sizeof head, "%s %s ", date, time);
        log.utCheckWrap(static_cast<size_t>(h) + tl + 1);
        errno = 0;
        bool ok = pisnp::sys::fwrite(head, 1, static_cast<size_t>(h), log.file) ==
                      static_cast<size_t>(h) &&
                  pisnp::sys::fwrite(text, 1, tl, log.file) == tl &&
                  pisnp::sys::fwrite("\n", 1, 1, log.file) == 1;
        err = ok ? 0 : (errno != 0 ? errno : EIO);
        if (ok) {
            pisnp::sys::fflush(log.file);
            log.utSetNextWrite();
        }
    }
    if (err != 0) {
        if (locked) log.unlock();
        auditFailed(err);
        return 0;
    }
    if (locked && log.unlock() != 0) auditFailed(errno);
    return 0;
}

int LogAuditMsg(wchar_t* text) {
    DAuditLogFile& log = auditLogFile;
    if (text == nullptr) return 0;
    if (log.wideFile != 1) {
        std::mbstate_t state{};
        const wchar_t* src = text;
        size_t n = std::wcsrtombs(nullptr, &src, 0, &state);
        if (n == static_cast<size_t>(-1)) return 0;
        auto* narrow = static_cast<char*>(arcMalloc(n + 1, kBlockSource, __LINE__));
        if (narrow == nullptr) return 1;
        state = {};
        src = text;
        std::wcsrtombs(narrow, &src, n + 1, &state);
        LogAuditMsg(narrow);
        arcFree(narrow, kBlockSource, __LINE__);
        return 0;
    }
    if (log.loggingEnabled != 1 || log.file == nullptr) return 0;
    char date[16], time[16];
    logfile::stampNow(date, time);
    size_t tl = std::wcslen(text);
    if (tl > 0 && text[tl - 1] == L'\n') --tl;
    size_t room = std::strlen(date) + std::strlen(time) + 4 + tl + 1;
    auto* line = static_cast<wchar_t*>(arcMalloc(room * sizeof(wchar_t), kBlockSource, __LINE__));
    if (line == nullptr) return 1;
    int n = std::swprintf(line, room, L"%s %s %.*ls\n", date, time, static_cast<int>(tl), text);
    int err = n > 0 ? logfile::writeLine(log, reinterpret_cast<char*>(line),
                                         static_cast<size_t>(n) * sizeof(wchar_t))
                    : EILSEQ;
    arcFree(line, kBlockSource, __LINE__);
    if (err != 0) auditFailed(err);
    return 0;
}
