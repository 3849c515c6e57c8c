#include "pisnp/threads.h"

#include <sched.h>

#include <cerrno>

#include "base/report.h"
#include "base/sysCalls.h"
#include "pisnp/resultCodes.h"
#include "pisnp/traceFlags.h"

namespace {

constexpr char kDestroyName[] = "psMutexDestroy()";

bool shuttingDown() {
    return getGlobalInSignal() != 0;
}

}  // namespace

int psMutexInit(pthread_mutex_t* mutex, pthread_mutexattr_t* attr, char*) {
    return arcMutexInit(mutex, attr);
}

int arcMutexInit(pthread_mutex_t* mutex, pthread_mutexattr_t* attr) {
    if (attr != nullptr) return pthread_mutex_init(mutex, attr);
    // Recursive by default: the runtime's locks are taken again by code they call.
    pthread_mutexattr_t recursive;
    pthread_mutexattr_init(&recursive);
    pthread_mutexattr_settype(&recursive, PTHREAD_MUTEX_RECURSIVE);
    int rc = pthread_mutex_init(mutex, &recursive);
    pthread_mutexattr_destroy(&recursive);
    return rc;
}

int psMutexLock(pthread_mutex_t* mutex, unsigned short) {
    if (shuttingDown()) return 0;
    int rc = pthread_mutex_lock(mutex);
    if (rc == 0) return 0;
    if (rc == EDEADLK) {
        REPORT_TRACE(TR_THREAD, "psMutexLock : D E A D L O C K\n");
        return PISNP_RC_DEADLOCK;
    }
    REPORT_TRACE(TR_THREAD, "psMutexLock : OUT OF MEMORY\n");
    return PISNP_RC_NO_MEMORY;
}

int psMutexUnlock(pthread_mutex_t* mutex) {
    if (shuttingDown()) return 0;
    return pthread_mutex_unlock(mutex);
}

int psMutexTryLock(pthread_mutex_t* mutex) {
    if (shuttingDown()) return 0;
    int rc = pthread_mutex_trylock(mutex);
    if (rc == 0) return 0;
    return rc == EBUSY ? PISNP_RC_MUTEX_BUSY : -1;
}

int psMutexDestroy(pthread_mutex_t* mutex) {
    if (shuttingDown()) return 0;
    int rc = pthread_mutex_destroy(mutex);
    if (rc == EBUSY) {
        REPORT_TRACE(TR_THREAD, "%s: The mutex is busy\n", kDestroyName);
    } else if (rc == EINVAL) {
        REPORT_TRACE(TR_THREAD, "%s: Invalid mutex\n", kDestroyName);
    } else if (rc != 0) {
        REPORT_TRACE(TR_THREAD, "%s: pthread_mutex_destroy() returned %d\n", kDestroyName, rc);
    }
    return rc;
}

int psCreateCondition(pthread_cond_t* cond) {
    int rc = pthread_cond_init(cond, nullptr);
    if (rc != 0) {
        pisnp::report::diag(__FILE_NAME__, __LINE__, TR_THREAD, "Create condition failed: %d.\n",
                            rc);
    }
    return rc;
}

int psWaitCondition(pthread_cond_t* cond, pthread_mutex_t* mutex) {
    int rc = pthread_cond_wait(cond, mutex);
    if (rc == 0) return 0;
    REPORT_TRACE(TR_THREAD, "Condition wait failed: error %d\n", rc);
    return PISNP_RC_UNEXPECTED;
}

int psTimedWaitCondition(pthread_cond_t* cond, pthread_mutex_t* mutex, int ms, volatile int* flag) {
    // The condition waits on the real-time clock, the clock of the time of day.
    timeval now;
    pisnp::sys::gettimeofday(&now);
    timespec deadline;
    deadline.tv_sec = now.tv_sec + ms / 1000;
    long nanos = now.tv_usec * 1000L + (ms % 1000) * 1000000L;
    deadline.tv_sec += nanos / 1000000000L;
    deadline.tv_nsec = nanos % 1000000000L;
    if (deadline.tv_nsec < 0) {  // a negative time limit: the deadline has passed already
        deadline.tv_nsec += 1000000000L;
        deadline.tv_sec -= 1;
    }
    auto flagSet = [flag] { return flag != nullptr && *flag != 0; };
    for (;;) {
        int rc = pthread_cond_timedwait(cond, mutex, &deadline);
        if (rc == 0) {
            if (flagSet()) return 0;
            continue;  // woken for someone else, or spuriously: the deadline stands
        }
        if (rc == ETIMEDOUT) return flagSet() ? 0 : PISNP_RC_TIMED_OUT;
        return rc;
    }
}

int psSignalCondition(pthread_cond_t* cond) {
    int rc = pthread_cond_signal(cond);
    if (rc != 0) {
        pisnp::report::diag(__FILE_NAME__, __LINE__, TR_THREAD, "Signal condition failed: %d.\n",
                            rc);
    }
    return rc;
}

int psDestroyCondition(pthread_cond_t* cond) {
    if (shuttingDown()) return 0;
    int rc = pthread_cond_destroy(cond);
    while (rc == EBUSY) {
        pthread_cond_broadcast(cond);
        sched_yield();
        rc = pthread_cond_destroy(cond);
    }
    if (rc != 0) {
        pisnp::report::diag(__FILE_NAME__, __LINE__, TR_THREAD, "Destroy condition failed: %d.\n",
                            rc);
    }
    return rc;
}
