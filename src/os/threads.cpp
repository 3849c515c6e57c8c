#include "pisnp/threads.h"

#include <sched.h>
#include <signal.h>
#include <sys/select.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <new>

#include "base/report.h"
#include "base/sysCalls.h"
#include "mem/checkedAlloc.h"
#include "pisnp/hostAnchor.h"
#include "pisnp/instrument.h"
#include "pisnp/pkMutex.h"
#include "pisnp/resultCodes.h"
#include "pisnp/traceFlags.h"

// Set by the host when it has an anchor; read for thread names by the signal handling and the
// trace facility.
HostAnchor* GAnchorP = nullptr;

namespace {

struct ThreadState {
    bool alive = false;
    // Value of `completions` when the thread last marked itself completed; 0 never.
    uint64_t completedAt = 0;
};

// The registry. Statically initialised mutex; the map is built on first use and never
// destroyed, because detached threads may still mark themselves completed during exit.
pthread_mutex_t ThreadIDMapMutex = PTHREAD_MUTEX_INITIALIZER;
uint64_t completions = 0;

std::map<uint64_t, ThreadState>& threadIDMap() {
    alignas(std::map<uint64_t, ThreadState>) static unsigned char
        storage[sizeof(std::map<uint64_t, ThreadState>)];
    static auto* map = new (storage) std::map<uint64_t, ThreadState>();
    return *map;
}

pthread_t mainThread;
pid_t mainProcess;

// Holds the registry. The thread-stop signal is blocked meanwhile: its handler marks the
// thread completed, which would otherwise deadlock on a lock its own thread holds. The
// registry is locked directly rather than through psMutexLock so that it stays consistent
// while the process shuts down; it is never held for long.
class RegistryLock {
  public:
    RegistryLock() {
        sigset_t stop;
        sigemptyset(&stop);
        sigaddset(&stop, SIGUSR1);
        pthread_sigmask(SIG_BLOCK, &stop, &saved_);
        pthread_mutex_lock(&ThreadIDMapMutex);
    }
    ~RegistryLock() {
        pthread_mutex_unlock(&ThreadIDMapMutex);
        pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
    }
    RegistryLock(const RegistryLock&) = delete;
    RegistryLock& operator=(const RegistryLock&) = delete;

  private:
    sigset_t saved_;
};

// The entry of tid, entered as not alive when it is new; null when there is no memory for it
// (the thread then stays unknown, which is the safe answer: it will not be signalled).
ThreadState* entryOf(uint64_t tid) {
    try {
        return &threadIDMap()[tid];
    } catch (const std::bad_alloc&) {
        REPORT_TRACE(TR_THREAD, "ThreadIDMap: no memory to register thread(%u).\n",
                     static_cast<unsigned>(tid));
        return nullptr;
    }
}

[[maybe_unused]] const bool mainThreadRegistered = [] {
    mainThread = pthread_self();
    mainProcess = getpid();
    RegistryLock lock;
    if (ThreadState* state = entryOf(mainThread)) state->alive = true;
    return true;
}();

// What psAPIthreadCreate hands to the new thread.
struct ApiStart {
    void* (*func)(void*);
    void* arg;
};
static_assert(sizeof(ApiStart) == 16);

void* apiStartFunc(void* wrapper) {
    auto* start = static_cast<ApiStart*>(wrapper);
    void* (*func)(void*) = start->func;
    void* arg = start->arg;
    ARC_FREE(wrapper);
    // Only psThreadExit and the thread-stop signal mark a thread completed: hosts end their
    // threads through psThreadExit, and a thread that returns stays registered as alive.
    return func(arg);
}

// glibc loads its unwinder (through dlopen, which allocates) the first time a thread ends by
// pthread_exit. Threads stopped by psThreadKill end that way inside the signal handler, where
// loading could deadlock on a lock held by the code the signal interrupted; so before the first
// stop signal is sent, one helper thread ends that way in ordinary context.
void loadThreadExitUnwinder() {
    static std::once_flag once;
    std::call_once(once, [] {
        pthread_t helper;
        if (pthread_create(
                &helper, nullptr, +[](void*) -> void* { pthread_exit(nullptr); }, nullptr) == 0) {
            pthread_join(helper, nullptr);
        }
    });
}

}  // namespace

int psThreadCreate(ThreadCreate* desc) {
    if (desc == nullptr) return PISNP_RC_INVALID_ARG;
    pthread_t local;
    pthread_t* tid = desc->threadId != nullptr ? desc->threadId : &local;

    // A thread that ends before it is registered marks itself completed first; the count taken
    // here tells that apart from an older thread that had the same ID.
    uint64_t before;
    {
        RegistryLock lock;
        before = completions;
    }

    int rc;
    if (desc->attr != nullptr) {
        int state;
        if (pthread_attr_getdetachstate(desc->attr, &state) == 0 &&
            state == PTHREAD_CREATE_JOINABLE && desc->detached != nullptr) {
            *desc->detached = 0;
        }
        rc = pthread_create(tid, desc->attr, desc->startFunc, desc->arg);
    } else {
        pthread_attr_t attr;
        pthread_attr_init(&attr);
        pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
        if (desc->stackSize != 0) psSetThreadStackSize(&attr, desc->stackSize);
        rc = pthread_create(tid, &attr, desc->startFunc, desc->arg);
        pthread_attr_destroy(&attr);
    }
    if (rc != 0) return rc;

    RegistryLock lock;
    ThreadState* state = entryOf(*tid);
    if (state != nullptr && state->completedAt <= before) state->alive = true;
    REPORT_TRACE(TR_THREAD, "psThreadCreate(): mark thread(%u) as being alive.\n",
                 static_cast<unsigned>(*tid));
    return rc;
}

int psAPIthreadCreate(ThreadCreate* desc, char* name) {
    REPORT_TRACE(TR_THREAD, "Starting thread %s\n", name != nullptr ? name : "");
    if (desc == nullptr) return PISNP_RC_INVALID_ARG;
    auto* start = static_cast<ApiStart*>(ARC_MALLOC(sizeof(ApiStart)));
    if (start == nullptr) return -1;
    start->func = desc->startFunc;
    start->arg = desc->arg;
    desc->startFunc = apiStartFunc;
    desc->arg = start;
    int rc = psThreadCreate(desc);
    if (rc != 0) {
        // The thread never took the wrapper: give it back and leave the descriptor as it was.
        desc->startFunc = start->func;
        desc->arg = start->arg;
        ARC_FREE(start);
    }
    return rc;
}

void psThreadExit(void* value) {
    REPORT_TRACE(TR_THREAD, "Thread %d exit called.\n", gettid());
    instrObj.endThread(static_cast<unsigned long>(pthread_self()));
    pkTSD_callCleanUps();
    psMarkThreadAsCompleted();
    pthread_exit(value);
}

void psMarkThreadAsCompleted() {
    pthread_t self = pthread_self();
    {
        RegistryLock lock;
        if (ThreadState* state = entryOf(self)) {
            state->alive = false;
            state->completedAt = ++completions;
        }
    }
    REPORT_TRACE(TR_THREAD, "psMarkThreadAsCompleted(%u): done.\n", static_cast<unsigned>(self));
}

int psIsThreadAlive(unsigned long tid, unsigned int) {
    int alive;
    {
        RegistryLock lock;
        ThreadState* state = entryOf(tid);
        alive = state != nullptr && state->alive ? 1 : 0;
    }
    REPORT_TRACE(TR_THREAD, "psIsThreadAlive(%u): isAlive(%d)\n", static_cast<unsigned>(tid),
                 alive);
    return alive;
}

int psThreadKill(unsigned long tid, unsigned int) {
    loadThreadExitUnwinder();
    RegistryLock lock;
    auto& map = threadIDMap();
    auto it = map.find(tid);
    if (it == map.end() || !it->second.alive) {
        REPORT_TRACE(TR_THREAD, "psThreadKill(): tid(%u) has exited already or never existed!\n",
                     static_cast<unsigned>(tid));
        return 0;
    }
    // Sent under the registry lock: the thread cannot be marked completed (and its ID
    // released) between the check and the signal.
    int rc = pthread_kill(tid, SIGUSR1);
    if (rc != 0) {
        char text[128];
        REPORT_TRACE(TR_THREAD,
                     "psThreadKill(): pthread_kill() returned rc(%d) for tid(%u) due to errno(%d), "
                     "reason:(%s)\n",
                     rc, static_cast<unsigned>(tid), rc, strerror_r(rc, text, sizeof text));
    }
    return rc;
}

pthread_t psThreadSelf() {
    return pthread_self();
}

int psThreadYield() {
    return sched_yield();
}

int psThreadEqual(unsigned long a, unsigned long b) {
    return pthread_equal(a, b);
}

int psThread_attr_getdetachstate(pthread_attr_t* attr, int* state) {
    return pthread_attr_getdetachstate(attr, state);
}

int psIsMainThread() {
    return pthread_equal(pthread_self(), mainThread) ? 1 : 0;
}

pthread_t psGetMainThreadId() {
    return mainThread;
}

pid_t psGetMainPID() {
    return mainProcess;
}

int psSetThreadStackSize(pthread_attr_t* attr, unsigned long size) {
    if (attr == nullptr) return PISNP_RC_INVALID_ARG;
    int rc = pthread_attr_setstacksize(attr, size);
    if (rc == 0) {
        REPORT_TRACE(TR_THREAD, "pthread_attr_setstacksize: new stacksize=%u\n",
                     static_cast<unsigned>(size));
    } else {
        REPORT_TRACE(TR_THREAD, "pthread_attr_setstacksize failed: errno=%d\n", rc);
    }
    return rc;
}

int psSetThreadAttribs(pthread_attr_t*) {
    return 0;
}

void psThreadDelay(int ms) {
    // Only delays of a second or more are worth a line each; shorter ones come in loops.
    bool traced = TR_THREAD_STATUS != 0 && ms >= 1000;
    if (traced) {
        REPORT_TRACE(TR_THREAD_STATUS, "Thread %d delaying for %d milliseconds.\n", gettid(), ms);
    }
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    pisnp::sys::select(0, nullptr, nullptr, nullptr, &tv);
    if (traced) REPORT_TRACE(TR_THREAD_STATUS, "Thread %d awakened.\n", gettid());
}

unsigned int psSuspendCPU(unsigned int seconds) {
    return pisnp::sys::sleep(seconds);
}
