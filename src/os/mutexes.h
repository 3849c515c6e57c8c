// Mutexes and condition variables with the library's return codes.
//
// Once a shutdown signal has been received (see signals.h) the mutex operations and the
// condition's destruction return 0 at once without touching the object, so that threads that
// are shutting down cannot block on a lock.
#pragma once

#include <pthread.h>

#include "pisnp_export.h"

// As arcMutexInit; the name only documents the mutex at the call site.
PISNP_API int psMutexInit(pthread_mutex_t* mutex, pthread_mutexattr_t* attr, char* name);
// Null attributes make a recursive mutex. Returns the pthread code.
PISNP_API int arcMutexInit(pthread_mutex_t* mutex, pthread_mutexattr_t* attr);
// 0; 936 when locking would deadlock (error-checking mutexes); 102 for any other failure.
PISNP_API int psMutexLock(pthread_mutex_t* mutex, unsigned short);
// The pthread code.
PISNP_API int psMutexUnlock(pthread_mutex_t* mutex);
// 0; 932 when another thread holds it; -1 for any other failure.
PISNP_API int psMutexTryLock(pthread_mutex_t* mutex);
// 0, or the pthread code (16 busy, 22 invalid, ...) after a trace line.
PISNP_API int psMutexDestroy(pthread_mutex_t* mutex);

// Default attributes; the pthread code.
PISNP_API int psCreateCondition(pthread_cond_t* cond);
// 0, or 131 when the wait fails.
PISNP_API int psWaitCondition(pthread_cond_t* cond, pthread_mutex_t* mutex);
// Waits, holding mutex, until *flag is set and the condition signalled, or ms milliseconds
// have passed. 0 when *flag is set (also at the deadline), 964 at the deadline without it,
// else the pthread code. A wake-up without the flag does not count. A null flag is never set.
PISNP_API int psTimedWaitCondition(pthread_cond_t* cond, pthread_mutex_t* mutex, int ms,
                                   volatile int* flag);
// The pthread code.
PISNP_API int psSignalCondition(pthread_cond_t* cond);
// Wakes remaining waiters until the condition can be destroyed; the pthread code.
PISNP_API int psDestroyCondition(pthread_cond_t* cond);
