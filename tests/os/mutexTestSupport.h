// A mutex that reports misuse (relocking, unlocking by another thread) instead of hanging, so
// that the wrappers' error codes can be seen.
#pragma once

#include <pthread.h>

#include "pisnp/threads.h"

inline int initErrorCheckingMutex(pthread_mutex_t* m) {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ERRORCHECK);
    int rc = arcMutexInit(m, &attr);
    pthread_mutexattr_destroy(&attr);
    return rc;
}
