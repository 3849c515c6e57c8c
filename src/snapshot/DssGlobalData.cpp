#include "pisnp/snapshotRegistry.h"

#include <pthread.h>

#include <atomic>
#include <cstring>

#include "mem/checkedAlloc.h"
#include "pisnp/lists.h"
#include "pisnp/pkMutex.h"
#include "pisnp/plugin.h"
#include "pisnp/resultCodes.h"
#include "pisnp/snapshotProvider.h"
#include "pisnp/threads.h"
#include "snapshot/hostServices.h"

namespace {

std::atomic<DssGlobalData*> snapshotGlobalDataP{nullptr};

// The registry's lock: re-entrant, because the destructor calls locked members while it holds it.
// It outlives every registry, so that a status callback in another thread can take it while the
// registry is created or destroyed.
pthread_mutex_t registryMutex = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;

struct RegistryLock {
    RegistryLock() { pthread_mutex_lock(&registryMutex); }
    ~RegistryLock() { pthread_mutex_unlock(&registryMutex); }
    RegistryLock(const RegistryLock&) = delete;
    RegistryLock& operator=(const RegistryLock&) = delete;
};

// A provider's status-callback count is also its count of holds. Disposing of it adds this mark;
// whoever brings the count to the bare mark (the disposer when no hold is left, else the last
// release) deletes the provider, so it is deleted exactly once and never under a callback.
constexpr int kDisposed = 1 << 30;

// The count lives in the provider's base; the registry reaches it through a derived view.
struct HoldCount : DssSnapshotProvider {
    static std::atomic<int>& of(DssSnapshotProvider* p) {
        return p->*(&HoldCount::statusCallbackRunning);
    }
};

// An unknown handle is searched for a second time after this pause, so every miss costs its
// caller this long; callers that probe handles should expect it.
constexpr unsigned int kLookupRetrySeconds = 1;

// Search of the list, without the retry; the caller holds the lock.
DssSnapshotProvider* findByID(DFcgLinkedList* list, unsigned int id) {
    DssSnapshotProviderCompare byID;
    DFcgAbstractListItem* item = list->FindItem(&id, &byID);
    return item == nullptr ? nullptr : static_cast<DssSnapshotProvider*>(item->data);
}

}  // namespace

// ---- static entry points ----

int DssGlobalData::gdCreateDssGlobalData(int* existed, piSnapProviderInfo_t providerInfo) {
    RegistryLock held;
    if (DssGlobalData* existing = snapshotGlobalDataP.load()) {
        SNAP_TRACE("DssGlobalData::gdCreateDssGlobalData(): Global data object already exists.\n");
        if (existed != nullptr) *existed = 1;
        return existing->SetSnapProviderInfo(&providerInfo);
    }
    if (existed != nullptr) *existed = 0;
    auto* registry = new DssGlobalData;
    if (registry == nullptr || registry->instanceList == nullptr) {
        delete registry;
        SNAP_TRACE(
            "DssGlobalData::gdCreateDssGlobalData(): ERROR: Not enough memory to create global "
            "data object.\n");
        return PISNP_RC_NO_MEMORY;
    }
    snapshotGlobalDataP = registry;
    return registry->SetSnapProviderInfo(&providerInfo);
}

void DssGlobalData::gdDestroyDssGlobalData() {
    RegistryLock held;
    DssGlobalData* registry = snapshotGlobalDataP.load();
    if (registry == nullptr) return;
    SNAP_TRACE("DssGlobalData::gdDestroyDssGlobalData(): Deleting global data object.\n");
    // Cleared first: the providers' clean-up below must find no registry to call back into.
    snapshotGlobalDataP = nullptr;
    delete registry;
}

unsigned int DssGlobalData::gdGetNextSnapshotID() {
    DssGlobalData* registry = snapshotGlobalDataP.load();
    if (registry == nullptr) {
        SNAP_TRACE("DssGlobalData::gdGetNextSnapshotID(): ERROR: Global data object is NULL.\n");
        return BKP_NO_HANDLE;
    }
    return registry->GetNextSnapshotID();
}

int DssGlobalData::gdSetSnapProviderHandle(unsigned int handle) {
    DssGlobalData* registry = snapshotGlobalDataP.load();
    if (registry == nullptr) {
        SNAP_TRACE(
            "DssGlobalData::gdSetSnapProviderHandle(): ERROR: Global data object is NULL.\n");
        return BKP_RC_UNKNOWN_HANDLE;
    }
    return registry->SetSnapProviderHandle(handle);
}

unsigned int DssGlobalData::gdGetSnapProviderHandle() {
    DssGlobalData* registry = snapshotGlobalDataP.load();
    if (registry == nullptr) {
        SNAP_TRACE(
            "DssGlobalData::gdGetSnapProviderHandle(): ERROR: Global data object is NULL.\n");
        return BKP_NO_HANDLE;
    }
    return registry->GetSnapProviderHandle();
}

void** DssGlobalData::gdGetSnapProviderInfo() {
    DssGlobalData* registry = snapshotGlobalDataP.load();
    if (registry == nullptr) {
        SNAP_TRACE("DssGlobalData::gdGetSnapProviderInfo(): ERROR:Global data object is NULL.\n");
        return nullptr;
    }
    return &registry->snapProviderInfo;
}

int DssGlobalData::gdAddSnapshotInstance(DssSnapshotProvider* provider) {
    DssGlobalData* registry = snapshotGlobalDataP.load();
    if (registry == nullptr) {
        SNAP_TRACE("DssGlobalData::gdAddSnapshotInstance(): ERROR: Global data object is NULL.\n");
        return BKP_RC_UNKNOWN_HANDLE;
    }
    return registry->AddSnapshotInstance(provider);
}

int DssGlobalData::gdRemoveSnapshotInstance(unsigned int id) {
    DssGlobalData* registry = snapshotGlobalDataP.load();
    if (registry == nullptr) {
        SNAP_TRACE(
            "DssGlobalData::gdRemoveSnapshotInstance(): ERROR: Global data object is NULL.\n");
        return BKP_RC_UNKNOWN_HANDLE;
    }
    return registry->RemoveSnapshotInstance(id);
}

DssSnapshotProvider* DssGlobalData::gdGetSnapshotInstance(unsigned int handle) {
    DssGlobalData* registry = snapshotGlobalDataP.load();
    if (registry == nullptr) {
        SNAP_TRACE(
            "DssGlobalData::gdGetSnapshotInstance(): handle %d ERROR: Global data object is "
            "NULL.\n",
            handle);
        return nullptr;
    }
    // 0 is never handed out; a host passing it usually lost its handle, which is worth a line.
    if (handle == 0) SNAP_TRACE("DssGlobalData::gdGetSnapshotInstance(): handle %d\n", handle);
    DssSnapshotProvider* provider = registry->GetSnapshotInstanceByID(handle);
    if (provider == nullptr)
        SNAP_TRACE("DssGlobalData::gdGetSnapshotInstance(): local handle is now %d\n", handle);
    return provider;
}

DssSnapshotProvider* DssGlobalData::gdGetSnapshotInstanceByListLocation(unsigned int position) {
    DssGlobalData* registry = snapshotGlobalDataP.load();
    if (registry == nullptr) {
        SNAP_TRACE(
            "DssGlobalData::gdGetSnapshotInstanceByListLocation(): ERROR: Global data object is "
            "NULL.\n");
        return nullptr;
    }
    return registry->GetSnapshotInstanceByListLocation(position);
}

DssSnapshotProvider* DssGlobalData::gdHoldSnapshotInstance(unsigned int handle) {
    // The usual lookup first, with its second look after a pause, which must not hold the lock.
    if (gdGetSnapshotInstance(handle) == nullptr) return nullptr;
    // Then again under the lock: the provider may have been taken out meanwhile, and only a
    // provider still in the list may be held.
    RegistryLock held;
    DssGlobalData* registry = snapshotGlobalDataP.load();
    DssSnapshotProvider* provider =
        registry != nullptr ? findByID(registry->instanceList, handle) : nullptr;
    if (provider != nullptr) HoldCount::of(provider).fetch_add(1);
    return provider;
}

void DssGlobalData::gdReleaseSnapshotInstance(DssSnapshotProvider* provider) {
    if (provider != nullptr && HoldCount::of(provider).fetch_sub(1) == kDisposed + 1)
        delete provider;
}

void DssGlobalData::gdDisposeSnapshotInstance(DssSnapshotProvider* provider) {
    if (provider != nullptr && HoldCount::of(provider).fetch_add(kDisposed) == 0) delete provider;
}

void DssGlobalData::gdSetSnapError(bkpSnapshotErrorInfo_t* info) {
    DssGlobalData* registry = snapshotGlobalDataP.load();
    if (registry == nullptr || info == nullptr) return;
    std::memcpy(&registry->lastError, info, sizeof(bkpSnapshotErrorInfo_t));
}

void DssGlobalData::gdGetSnapError(bkpSnapshotErrorInfo_t* info) {
    DssGlobalData* registry = snapshotGlobalDataP.load();
    if (registry == nullptr || info == nullptr) return;
    std::memcpy(info, &registry->lastError, sizeof(bkpSnapshotErrorInfo_t));
    SNAP_TRACE("gdGetSnapError(): Exiting...\n");
}

// ---- the registry object ----

void* DssGlobalData::operator new(size_t size) noexcept {
    return ARC_MALLOC(size);
}

void DssGlobalData::operator delete(void* p) noexcept {
    ARC_FREE(p);
}

DssGlobalData::DssGlobalData()
    : nextSnapshotID(1),
      snapProviderHandle(0),
      instanceCount(0),
      instanceList(new DFcgLinkedList(nullptr)),
      lock(pkCreateMutex()),
      snapProviderInfo(nullptr) {
    std::memset(&lastError, 0, sizeof lastError);
}

DssGlobalData::~DssGlobalData() {
    if (instanceList != nullptr) {
        Lock();
        while (DFcgAbstractListItem* first = instanceList->GetItemAt(0)) {
            auto* provider = static_cast<DssSnapshotProvider*>(instanceList->GetData(first));
            unsigned int before = instanceList->GetNumItems();
            RemoveSnapshotInstance(provider->getSnapshotID());
            provider->cleanUpOnError(bkpStopAtShutdown);
            gdDisposeSnapshotInstance(provider);
            // An entry that cannot be dropped would be met again forever; the list's own
            // destruction below releases what is left.
            if (instanceList->GetNumItems() >= before) break;
        }
        delete instanceList;
        instanceList = nullptr;
        UnLock();
    }
    if (snapProviderInfo != nullptr) ARC_FREE(snapProviderInfo);
    pkDestroyMutex(lock);
}

int DssGlobalData::SetSnapProviderInfo(piSnapProviderInfo_t* providerInfo) {
    if (snapProviderInfo != nullptr) {
        ARC_FREE(snapProviderInfo);
        snapProviderInfo = nullptr;
    }
    int type = static_cast<int>(gSnapAttrib.providerType);
    switch (type) {
        case 1:
        case 2:
        case 3:
        case 5:
        case 6:
            return PISNP_RC_OK;
        case 4: {
            // Only this provider type works from the host's information block; a host that
            // hands none gets nothing kept rather than a crash.
            if (providerInfo == nullptr || providerInfo->info == nullptr) return PISNP_RC_OK;
            void* copy = ARC_MALLOC(PI_PROVIDER_INFO_SIZE);
            if (copy == nullptr) {
                SNAP_TRACE("DssGlobalData::SetSnapProviderInfo(): No more memory\n");
                return PISNP_RC_NO_MEMORY;
            }
            std::memcpy(copy, providerInfo->info, PI_PROVIDER_INFO_SIZE);
            snapProviderInfo = copy;
            return PISNP_RC_OK;
        }
        default:
            SNAP_TRACE("bkpInitializeSnapshot(): Invalid snap provider <%d>.\n", type);
            return BKP_RC_NOT_FOUND;
    }
}

int DssGlobalData::SetSnapProviderHandle(unsigned int handle) {
    snapProviderHandle = handle;
    return PISNP_RC_OK;
}

unsigned int DssGlobalData::GetSnapProviderHandle() {
    return snapProviderHandle;
}

unsigned int DssGlobalData::GetNextSnapshotID() {
    Lock();
    unsigned int id = nextSnapshotID++;
    UnLock();
    SNAP_TRACE("DssGlobalData::GetNextSnapshotID(): Returning snapshot ID %d.\n", id);
    return id;
}

int DssGlobalData::AddSnapshotInstance(DssSnapshotProvider* provider) {
    Lock();
    unsigned int id = provider->getSnapshotID();
    SNAP_TRACE("DssGlobalData::AddSnapshotInstance(): Adding snapshot instance %d.\n", id);
    if (instanceList->InsertAtBottom(provider) == nullptr) {
        SNAP_TRACE(
            "DssGlobalData::AddSnapshotInstance(): ERROR: Unable to add snapshot instance %d - "
            "No memory.\n",
            id);
        UnLock();
        return BKP_RC_NO_MEMORY;
    }
    ++instanceCount;
    SNAP_TRACE("DssGlobalData::AddSnapshotInstance(): %d current snapshot instances.\n",
               instanceCount);
    UnLock();
    return PISNP_RC_OK;
}

int DssGlobalData::RemoveSnapshotInstance(unsigned int id) {
    Lock();
    SNAP_TRACE("DssGlobalData::RemoveSnapshotInstance(): Removing snapshot instance %d.\n", id);
    DssSnapshotProviderCompare byID;
    DFcgAbstractListItem* item = instanceList->FindItem(&id, &byID);
    if (item == nullptr) {
        SNAP_TRACE(
            "DssGlobalData::RemoveSnapshotInstance(): ERROR: snapshot instance %d not found.\n",
            id);
        UnLock();
        return PISNP_RC_OK;
    }
    int rc = PISNP_RC_OK;
    if (instanceList->DeleteItem(item) == 1) {
        --instanceCount;
    } else {
        SNAP_TRACE(
            "DssGlobalData::RemoveSnapshotInstance(): ERROR: Unable to delete snapshot instance "
            "%d.\n",
            id);
        rc = BKP_RC_UNKNOWN_HANDLE;
    }
    SNAP_TRACE("DssGlobalData::RemoveSnapshotInstance(): %d current snapshot instances.\n",
               instanceCount);
    UnLock();
    return rc;
}

DssSnapshotProvider* DssGlobalData::GetSnapshotInstanceByID(unsigned int id) {
    Lock();
    DssSnapshotProvider* provider = findByID(instanceList, id);
    if (provider == nullptr) {
        UnLock();
        SNAP_TRACE(
            "DssGlobalData::GetSnapshotInstanceByID(): ERROR: Snapshot instance %d is NULL.\n", id);
        psSuspendCPU(kLookupRetrySeconds);
        Lock();
        provider = findByID(instanceList, id);
        if (provider == nullptr)
            SNAP_TRACE(
                "DssGlobalData::GetSnapshotInstanceByID(): ERROR2: Snapshot instance %d is still "
                "NULL\n",
                id);
    }
    UnLock();
    return provider;
}

DssSnapshotProvider* DssGlobalData::GetSnapshotInstanceByListLocation(unsigned int position) {
    Lock();
    DFcgAbstractListItem* item = instanceList->GetItemAt(position);
    DssSnapshotProvider* provider =
        item == nullptr ? nullptr : static_cast<DssSnapshotProvider*>(item->data);
    if (provider == nullptr)
        SNAP_TRACE(
            "DssGlobalData::GetSnapshotInstanceByListLocation(): Snapshot instance is NULL.\n");
    UnLock();
    return provider;
}

void DssGlobalData::Lock() {
    pthread_mutex_lock(&registryMutex);
}

void DssGlobalData::UnLock() {
    pthread_mutex_unlock(&registryMutex);
}
