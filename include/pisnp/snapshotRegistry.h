// The registry of snapshot providers: hands out the host's handles, keeps the live providers,
// finds them again, and remembers the last error of a provider that is already gone.
//
// There is at most one registry, created by piSnapshotInit and destroyed by piTerminate. Other
// code reaches it only through the static gd* functions, each of which answers with a fixed
// result when there is no registry; nothing is created on demand. The list does not own the
// providers: whoever removes one deletes it, except that destroying the registry cleans up and
// deletes every provider still in it.
//
// Threads: the host calls the plug-in from one thread at a time, except that a status callback
// may arrive from a second thread while a snapshot is terminated. The registry therefore has a
// real, re-entrant lock of its own around its list and counters (the pk mutex it also holds does
// nothing in this library), and a provider that a status callback holds
// (gdHoldSnapshotInstance) is deleted only after the callback has released it: a provider taken
// out of the registry is disposed of with gdDisposeSnapshotInstance, and a callback that comes
// after that finds nothing.
#pragma once

#include <cstddef>

#include "bkpSnapshot.h"
#include "piPlugin.h"
#include "pisnp_export.h"

class DFcgLinkedList;
class DssSnapshotProvider;
struct MutexDesc;

class PISNP_API DssGlobalData {
  public:
    // Creates the registry, or (*existed = 1) applies the provider information to the one that
    // exists. 0, 102 without memory, 24 when the attribute record holds no valid provider type.
    static int gdCreateDssGlobalData(int* existed, piSnapProviderInfo_t providerInfo);
    static void gdDestroyDssGlobalData();
    // A new ID, never reused within one registry's life; 0xFFFFFFFF without a registry.
    static unsigned int gdGetNextSnapshotID();
    // 0, or -1 without a registry.
    static int gdSetSnapProviderHandle(unsigned int handle);
    // The ID of the provider piSnapshotInit created; 0xFFFFFFFF without a registry.
    static unsigned int gdGetSnapProviderHandle();
    // Address of the field that holds the copy of the host's provider information (null when
    // none is kept); null without a registry.
    static void** gdGetSnapProviderInfo();
    // 0, 1 when the list cannot take it, -1 without a registry.
    static int gdAddSnapshotInstance(DssSnapshotProvider* provider);
    // 0 (also when the ID is not registered), -1 when it cannot be dropped or without registry.
    static int gdRemoveSnapshotInstance(unsigned int id);
    // The provider with that handle, or null. An unknown handle is searched for a second time
    // after a pause of one second.
    static DssSnapshotProvider* gdGetSnapshotInstance(unsigned int handle);
    // The provider at that list position (0 = first), or null.
    static DssSnapshotProvider* gdGetSnapshotInstanceByListLocation(unsigned int position);
    // The provider with that handle (looked up as gdGetSnapshotInstance does), held for a
    // caller in another thread until gdReleaseSnapshotInstance: it is not deleted meanwhile.
    // Null when there is none.
    static DssSnapshotProvider* gdHoldSnapshotInstance(unsigned int handle);
    static void gdReleaseSnapshotInstance(DssSnapshotProvider* provider);
    // Deletes a provider that is no longer registered: at once, or when its last hold is
    // released.
    static void gdDisposeSnapshotInstance(DssSnapshotProvider* provider);
    // Store and fetch the last error record; nothing without a registry or with a null record.
    static void gdSetSnapError(bkpSnapshotErrorInfo_t* info);
    static void gdGetSnapError(bkpSnapshotErrorInfo_t* info);

    DssGlobalData();
    ~DssGlobalData();
    DssGlobalData(const DssGlobalData&) = delete;
    DssGlobalData& operator=(const DssGlobalData&) = delete;

    int SetSnapProviderInfo(piSnapProviderInfo_t* providerInfo);
    int SetSnapProviderHandle(unsigned int handle);
    unsigned int GetSnapProviderHandle();
    int AddSnapshotInstance(DssSnapshotProvider* provider);
    int RemoveSnapshotInstance(unsigned int id);
    DssSnapshotProvider* GetSnapshotInstanceByID(unsigned int id);
    DssSnapshotProvider* GetSnapshotInstanceByListLocation(unsigned int position);
    unsigned int GetNextSnapshotID();
    void Lock();
    void UnLock();

    static void* operator new(size_t size) noexcept;
    static void operator delete(void* p) noexcept;

  private:
    unsigned int nextSnapshotID;
    unsigned int snapProviderHandle;
    unsigned int instanceCount;
    DFcgLinkedList* instanceList;
    // Kept for the layout; the lock that Lock and UnLock take is the registry's own.
    MutexDesc* lock;
    void* snapProviderInfo;
    bkpSnapshotErrorInfo_t lastError;
};
