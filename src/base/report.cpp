#include "base/report.h"

#include "base/errnoKeeper.h"

namespace pisnp::report {

namespace {
// Constant-initialised, so a report made by another unit's static initialiser before the hooks
// are installed finds null members instead of uninitialised ones.
constinit Hooks gHooks{};
}  // namespace

void install(const Hooks& hooks) {
    gHooks = hooks;
}

Hooks installed() {
    return gHooks;
}

int trace(const char* file, unsigned line, const char* fmt, ...) {
    if (gHooks.trace == nullptr) return 0;
    ErrnoKeeper keep;
    va_list args;
    va_start(args, fmt);
    int rc = gHooks.trace(file, line, fmt, args);
    va_end(args);
    return rc;
}

int diag(const char* file, unsigned line, unsigned char classFlag, const char* fmt, ...) {
    if (gHooks.diag == nullptr) return 0;
    ErrnoKeeper keep;
    va_list args;
    va_start(args, fmt);
    int rc = gHooks.diag(file, line, classFlag, fmt, args);
    va_end(args);
    return rc;
}

int logLine(char* text) {
    if (gHooks.logLine == nullptr) return 0;
    ErrnoKeeper keep;
    return gHooks.logLine(text);
}

void messageIssued(int msgNum) {
    if (gHooks.messageIssued == nullptr) return;
    ErrnoKeeper keep;
    gHooks.messageIssued(msgNum);
}

int schedLine(char* text) {
    if (gHooks.schedLine == nullptr) return 0;
    ErrnoKeeper keep;
    return gHooks.schedLine(text);
}

int message(const char* file, unsigned line, unsigned msgNum, ...) {
    if (gHooks.message == nullptr) return 0;
    ErrnoKeeper keep;
    va_list args;
    va_start(args, msgNum);
    int rc = gHooks.message(file, line, msgNum, args);
    va_end(args);
    return rc;
}

int messageLog(const char* file, unsigned line, unsigned char classFlag, unsigned msgNum, ...) {
    if (gHooks.messageLog == nullptr) return 0;
    ErrnoKeeper keep;
    va_list args;
    va_start(args, msgNum);
    int rc = gHooks.messageLog(file, line, classFlag, msgNum, args);
    va_end(args);
    return rc;
}

}  // namespace pisnp::report
