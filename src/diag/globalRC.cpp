#include "pisnp/globalRC.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <new>

#include "base/errnoKeeper.h"
#include "pisnp/alloc.h"
#include "pisnp/messages.h"
#include "pisnp/trace.h"
#include "pisnp/traceFlags.h"

GlobalRC* gRC = nullptr;
GlobalRC* GlobalRC::instanceP = nullptr;

namespace {

// Messages that only warn, whatever their catalog severity says.
constexpr int kWarningMessages[] = {
    326,   1086,  1115,  1136,  1147,  1154,  1159,  1228,  1242,  1243,  1269,  1413,  1469,
    1753,  1754,  1802,  1803,  1804,  1946,  1947,  2838,  3008,  5154,  5279,  5823,  9085,
    9098,  9101,  9134,  9137,  9256,  9288,  9289,  9290,  9294,  9733,  9951,  9958,  14005,
    14007, 14008, 14017, 14018, 14025, 14037, 14042, 14044, 14045, 14077, 14084, 14973, 14987,
};
constexpr int kMsgInternal = 9999;
constexpr int kMsgAuditLogFailed = 2046;

// The pk mutex handle does no locking in this library, so the codes are serialised here.
// Recursive: mapping a number reads the catalog, and a catalog that fails reports a message of
// its own, which comes back to set.
std::recursive_mutex gCodesLock;

int codeOf(int msgNum) {
    if (std::find(std::begin(kWarningMessages), std::end(kWarningMessages), msgNum) !=
        std::end(kWarningMessages))
        return 4;
    if (msgNum == kMsgInternal) return 12;
    if (msgNum == kMsgAuditLogFailed) {
        if (!TEST_AUDITLOGRC.on) return 12;
        return TEST_AUDITLOGRC.value < 1 ? 8 : TEST_AUDITLOGRC.value;
    }
    switch (nlGetMsgSev(msgNum)) {
        case nlsSevWarning:
            return 8;
        case nlsSevK:
        case nlsSevError:
        case nlsSevSevere:
            return 12;
        default:
            return 0;
    }
}

void reportLockFailure(const char* prefix, const char* what) {
    if (prefix != nullptr)
        TRACE(TR_EXTRC, "%s: Unable to %s global rc mutex\n", prefix, what);
    else
        TRACE(TR_EXTRC, "Unable to %s global rc mutex\n", what);
    char text[64];
    std::snprintf(text, sizeof text, "Unable to %s global rc mutex", what);
    nlprintf(kMsgInternal, __FILE_NAME__, __LINE__, text);
}

// The instance's mutex, taken for one operation. A missing handle is a mutex that failed: it is
// reported, and the caller decides whether to go on without it.
class CodesLock {
  public:
    CodesLock(const GlobalRC* rc, const char* prefix = nullptr) : prefix_(prefix) {
        held_ = rc->mutex != nullptr;
        if (held_)
            gCodesLock.lock();
        else
            reportLockFailure(prefix_, "acquire");
    }
    ~CodesLock() {
        if (held_) gCodesLock.unlock();
    }
    CodesLock(const CodesLock&) = delete;
    CodesLock& operator=(const CodesLock&) = delete;
    bool held() const { return held_; }

  private:
    const char* prefix_;
    bool held_;
};

// One code read under the mutex, which is returned even when the mutex failed.
int readCode(GlobalRC* self, int GlobalRC::*field, const char* name, const char* label) {
    TRACE(TR_EXTRC_DETAIL, "GlobalrC::%s() entry.\n", name);
    CodesLock lock(self);
    int value = self->*field;
    TRACE(TR_EXTRC_DETAIL, "%s = %d.\n", label, value);
    TRACE(TR_EXTRC_DETAIL, "GlobalrC::%s() exit.\n", name);
    return value;
}

}  // namespace

GlobalRC* GlobalRC::Instance() {
    if (instanceP == nullptr) {
        void* block = arcMalloc(sizeof(GlobalRC), __FILE_NAME__, __LINE__);
        if (block != nullptr) instanceP = new (block) GlobalRC;
    }
    return instanceP;
}

GlobalRC::GlobalRC() : rc(0), rcMacroMax(0), rcMax(0), mutex(pkCreateMutex()) {}

GlobalRC::~GlobalRC() {
    if (mutex != nullptr) pkDestroyMutex(mutex);
    instanceP = nullptr;
}

int GlobalRC::set(int msgNum) {
    TRACE(TR_EXTRC_DETAIL, "GlobalrC::set() entry.\n");
    CodesLock lock(this);
    if (!lock.held()) {
        TRACE(TR_EXTRC_DETAIL, "GlobalrC::set() exit.\n");
        return 0;
    }
    TRACE(TR_EXTRC_DETAIL, "msgNum = %d.\n", msgNum);
    TRACE(TR_EXTRC_DETAIL, "Before processing, rc = %d, rcMacroMax = %d, rcMax = %d.\n", rc,
          rcMacroMax, rcMax);
    int msgRC = codeOf(msgNum);
    TRACE(TR_EXTRC_DETAIL, "msgRC = %d.\n", msgRC);
    int rose = 0;
    if (rc < msgRC) {
        TRACE(TR_EXTRC, "msgNum = %d changed the Global RC.\n", msgNum);
        TRACE(TR_EXTRC, "Old values: rc = %d, rcMacroMax = %d, rcMax = %d.\n", rc, rcMacroMax,
              rcMax);
        rc = msgRC;
        rcMacroMax = std::max(rcMacroMax, msgRC);
        rcMax = std::max(rcMax, msgRC);
        TRACE(TR_EXTRC, "New values: rc = %d, rcMacroMax = %d, rcMax = %d.\n", rc, rcMacroMax,
              rcMax);
        rose = 1;
    }
    TRACE(TR_EXTRC_DETAIL, "After processing, rc = %d, rcMacroMax = %d, rcMax = %d.\n", rc,
          rcMacroMax, rcMax);
    TRACE(TR_EXTRC_DETAIL, "GlobalrC::set() exit.\n");
    return rose;
}

int GlobalRC::get() {
    return readCode(this, &GlobalRC::rc, "get", "rc");
}

int GlobalRC::getMacroMax() {
    return readCode(this, &GlobalRC::rcMacroMax, "getMacroMax", "rcMacroMax");
}

int GlobalRC::getMax() {
    return readCode(this, &GlobalRC::rcMax, "getMax", "rcMax");
}

int GlobalRC::clearRC() {
    TRACE(TR_EXTRC_DETAIL, "GlobalrC::clearRC() entry.\n");
    CodesLock lock(this);
    TRACE(TR_EXTRC_DETAIL, "Before processing, rc = %d.\n", rc);
    rc = 0;
    TRACE(TR_EXTRC_DETAIL, "After processing, rc = %d.\n", rc);
    TRACE(TR_EXTRC_DETAIL, "GlobalrC::clearRC() exit.\n");
    return 1;
}

int GlobalRC::clearMacroRC() {
    TRACE(TR_EXTRC_DETAIL, "GlobalrC::clearMacroRC() entry.\n");
    CodesLock lock(this);
    TRACE(TR_EXTRC_DETAIL, "Before processing, rc = %d, rcMacroMax = %d.\n", rc, rcMacroMax);
    rc = rcMacroMax = 0;
    TRACE(TR_EXTRC_DETAIL, "After processing, rc = %d, rcMacroMax = %d.\n", rc, rcMacroMax);
    TRACE(TR_EXTRC_DETAIL, "GlobalrC::clearMacroRC() exit.\n");
    return 1;
}

int GlobalRC::clearAllRC() {
    TRACE(TR_EXTRC_DETAIL, "GlobalrC::clearAllRC() entry.\n");
    CodesLock lock(this);
    TRACE(TR_EXTRC_DETAIL, "Before processing, rc = %d, rcMacroMax = %d, rcMax = %d.\n", rc,
          rcMacroMax, rcMax);
    rc = rcMacroMax = rcMax = 0;
    TRACE(TR_EXTRC_DETAIL, "After processing, rc = %d, rcMacroMax = %d, rcMax = %d.\n", rc,
          rcMacroMax, rcMax);
    return 1;
}

int GlobalRC::overrideMaxRCs(int value) {
    static const char kName[] = "GlobalRC::overrideMaxRCs()";
    {
        pisnp::ErrnoKeeper keep;
        TRACE(TR_ENTER, "ENTER =====> %s\n", kName);
    }
    int result = 0;
    {
        CodesLock lock(this, kName);
        if (lock.held()) {
            TRACE(TR_EXTRC_DETAIL,
                  "%s: Before processing, overrideRC = %d, rc = %d, rcMacroMax = %d, rcMax = "
                  "%d.\n",
                  kName, value, rc, rcMacroMax, rcMax);
            rc = rcMacroMax = rcMax = value;
            TRACE(TR_EXTRC, "%s: rc = rcMacroMax = rcMax = %d.\n", kName, value);
            result = 1;
        }
    }
    pisnp::ErrnoKeeper keep;
    TRACE(TR_EXIT, "EXIT  <===== %s\n", kName);
    return result;
}
