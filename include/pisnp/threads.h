// Threads, mutexes, condition variables and the process's signal set-up, with the library's
// return codes. Every function may be called from any thread.
#pragma once

#include <pthread.h>
#include <sys/types.h>
#include <cstddef>

#include "pisnp_export.h"

// Threads: creation with a registry of live threads, ending and stopping them, delays.
//
// The registry maps every thread started through psThreadCreate (and the thread that loaded
// the library) to whether it is alive. A thread counts as alive until it ends through
// psThreadExit or through psThreadKill; one that simply returns from its start function stays
// registered as alive, so threads that may be stopped must end through psThreadExit.
// psThreadKill signals only threads the registry knows to be alive.
// All functions may be called from any thread.
// Filled by the caller of psThreadCreate.
struct ThreadCreate {
    pthread_t* threadId;        // receives the new thread's ID
    pthread_attr_t* attr;       // null: detached, with stackSize
    void* (*startFunc)(void*);  // the thread's code
    int* detached;              // cleared when attr makes the thread joinable
    void* reserved;             // not used here
    void* arg;                  // passed to startFunc
    unsigned long stackSize;    // without attr: 0 for the default
};
static_assert(offsetof(ThreadCreate, threadId) == 0);
static_assert(offsetof(ThreadCreate, attr) == 8);
static_assert(offsetof(ThreadCreate, startFunc) == 16);
static_assert(offsetof(ThreadCreate, detached) == 24);
static_assert(offsetof(ThreadCreate, arg) == 40);
static_assert(offsetof(ThreadCreate, stackSize) == 48);
static_assert(sizeof(ThreadCreate) == 56);

// 109 for a null descriptor, else the pthread_create code.
PISNP_API int psThreadCreate(ThreadCreate* desc);
// As psThreadCreate; -1 when there is no memory to start the thread with.
PISNP_API int psAPIthreadCreate(ThreadCreate* desc, char* name);
[[noreturn]] PISNP_API void psThreadExit(void* value);
PISNP_API void psMarkThreadAsCompleted();
// 1 while the thread is alive; 0 for one that ended or was never registered (which is then
// registered as not alive).
PISNP_API int psIsThreadAlive(unsigned long tid, unsigned int);
// Ends a live thread with the thread-stop signal (it leaves through psTrapHandler). 0 when the
// thread is not alive (nothing is sent), else the pthread_kill code.
PISNP_API int psThreadKill(unsigned long tid, unsigned int);

PISNP_API pthread_t psThreadSelf();
PISNP_API int psThreadYield();
PISNP_API int psThreadEqual(unsigned long a, unsigned long b);
PISNP_API int psThread_attr_getdetachstate(pthread_attr_t* attr, int* state);
PISNP_API int psIsMainThread();
PISNP_API pthread_t psGetMainThreadId();
PISNP_API pid_t psGetMainPID();
// 109 for null attributes, else the pthread_attr_setstacksize code.
PISNP_API int psSetThreadStackSize(pthread_attr_t* attr, unsigned long size);
// Nothing to set on this platform: 0.
PISNP_API int psSetThreadAttribs(pthread_attr_t* attr);

// Sleeps ms milliseconds (a signal may end the sleep early).
PISNP_API void psThreadDelay(int ms);
// Sleeps whole seconds; returns the seconds left when a signal ended the sleep early.
PISNP_API unsigned int psSuspendCPU(unsigned int seconds);

// Mutexes and condition variables with the library's return codes.
//
// Once a shutdown signal has been received (see signals.h) the mutex operations and the
// condition's destruction return 0 at once without touching the object, so that threads that
// are shutting down cannot block on a lock.
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

// The process's signal set-up: fatal traps end in psTrapHandler, shutdown requests are blocked
// in every thread and consumed by the one thread that waits in psWaitShutdown.
//
// Trap signals: SIGILL, SIGFPE, SIGBUS, SIGSEGV, SIGUSR1 (stops one thread, see psThreadKill),
// SIGABRT, SIGTRAP. Shutdown signals: SIGINT, SIGQUIT, SIGTERM, SIGPWR, SIGXCPU, SIGXFSZ.
// Ignores SIGPIPE, blocks the shutdown signals in the calling thread (threads it creates later
// inherit that) and installs psTrapHandler for the trap signals. *block receives a 256-byte
// block from arcMalloc: the trap signal set, then the shutdown signal set. 0, or -1 when the
// block cannot be had or a handler cannot be installed.
PISNP_API int psSetupSignals(void** block);
// Waits for a shutdown signal of the block's set. From then on the mutex wrappers do nothing
// (getGlobalInSignal() is 1). 0, or -1 when waiting failed.
PISNP_API int psWaitShutdown(void* block);
// Ends the calling thread for SIGUSR1; for any other signal logs the fatal error and aborts.
PISNP_API void psTrapHandler(int signal);
// SIGTERM to the process that loaded the library.
PISNP_API int psSignalShutdownEvent();
// kind 1: as psSignalShutdownEvent; any other kind is refused (-1).
PISNP_API int psSignalProcess(int kind);
// Nothing to prepare on this platform: 0.
PISNP_API int psSignalInit();
// 1 once a shutdown signal has been received.
PISNP_API int getGlobalInSignal();
