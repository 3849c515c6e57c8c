// The pk mutex interface. In this library the operations do nothing: the plug-in's callers
// never enter it from two threads at once (a status callback excepted, which takes no pk lock),
// so the registry and the object lists lock through these calls without real locks behind them.
#pragma once

#include "pisnp_export.h"

// Opaque handle of the pk layer; every caller shares one static instance.
struct MutexDesc {
    int unused;
};

PISNP_API MutexDesc* pkCreateMutex();
PISNP_API int pkDestroyMutex(MutexDesc* mutex);
PISNP_API int pkAcquireMutex(MutexDesc* mutex);
PISNP_API int pkAcquireMutexNested(MutexDesc* mutex);
PISNP_API int pkReleaseMutex(MutexDesc* mutex);
PISNP_API int pkReleaseMutexNested(MutexDesc* mutex);
PISNP_API void pkTSD_callCleanUps();
