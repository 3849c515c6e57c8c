// Threads: creation with a registry of live threads, ending and stopping them, delays.
//
// The registry maps every thread started through psThreadCreate (and the thread that loaded
// the library) to whether it is alive. A thread counts as alive until it ends through
// psThreadExit or through psThreadKill; one that simply returns from its start function stays
// registered as alive, so threads that may be stopped must end through psThreadExit.
// psThreadKill signals only threads the registry knows to be alive.
// All functions may be called from any thread.
#pragma once

#include <pthread.h>
#include <sys/types.h>

#include <cstddef>

#include "pisnp_export.h"

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
