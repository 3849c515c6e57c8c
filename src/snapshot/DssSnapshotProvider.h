// The abstract snapshot provider: one object per snapshot or snapshot set that the host drives,
// found again by its ID, the host's handle.
//
// The object owns a private copy of the host's volume list and of the pre- and post-snapshot
// commands; the host's records are never kept. Objects are allocated through the checked
// allocator, and allocation failure yields null rather than an exception.
#pragma once

#include <atomic>
#include <cstddef>

#include "bkpSnapshot.h"
#include "pisnp_export.h"
#include "text/DString.h"

class PISNP_API DssSnapshotProvider {
  public:
    DssSnapshotProvider(unsigned int id, bkpSnapVolumeList_t* list, char* preCmd, char* postCmd,
                        unsigned int p1, unsigned int p2, unsigned int p3, unsigned int p4,
                        void* context);
    virtual ~DssSnapshotProvider();

    // The provider's operations, in the order the entry points reach them. 0 is success.
    virtual int initSnapshotProvider(unsigned short* major, unsigned short* minor) = 0;
    virtual int termSnapshotProvider() = 0;
    virtual int initializeSnapshot(unsigned int initArg, arcBool_t initFlag) = 0;
    virtual int initializeSnapshotSet() = 0;
    virtual int beginPrepareSnapshot() = 0;
    virtual int endPrepareSnapshot() = 0;
    virtual int startSnapshot(bkpSnapshotProperties_t* props) = 0;
    virtual int endSnapshot(arcBool_t flag) = 0;
    virtual int deleteSnapshot() = 0;
    virtual int getOBFInfo(nfExtentListHdr* extents, char* info1, char* info2) = 0;
    virtual int snapshotStatusCallback(bkpSnapshotStatus* status) = 0;
    virtual int cleanUpOnError(bkpSnapshotStopMode mode) = 0;
    virtual int getErrorInfo(bkpSnapshotErrorInfo_t* info) = 0;
    virtual int cancelSnapshot(unsigned int value) = 0;
    virtual int snapshotAction(piSnapshotActionIn_t* in, piSnapshotActionOut_t* out) = 0;

    // The accessors are out of line: hosts built elsewhere call them by their exported names.
    unsigned int getSnapshotID();
    // The command's text, or null when there is none.
    char* getPreSnapshotCmd();
    char* getPostSnapshotCmd();
    // The flag is written by the host's status-callback thread and read by the thread that
    // terminates the snapshot, which must not delete the provider while it is 1.
    void setStatusCallbackRunning(int running);
    int getStatusCallbackRunning();
    // The provider's private copy of the volume list; null when it was created without one.
    bkpSnapVolumeList_t* getVolumeList() const { return volumeList; }

    // Every provider lives in checked memory, so that allocation faults reach it; a failed
    // allocation makes the new-expression yield null.
    static void* operator new(size_t size) noexcept;
    static void operator delete(void* p) noexcept;

    DssSnapshotProvider(const DssSnapshotProvider&) = delete;
    DssSnapshotProvider& operator=(const DssSnapshotProvider&) = delete;

  protected:
    unsigned int snapshotID;
    bkpSnapVolumeList_t* volumeList;
    DString preSnapshotCmd;
    DString postSnapshotCmd;
    unsigned int snapParam1;
    unsigned int snapParam2;
    unsigned int snapParam3;
    unsigned int snapParam4;
    void* snapContext;
    bkpSnapshotErrorInfo_t errorInfo;
    // Reserved for providers that need them; the volume manager provider does not.
    unsigned int reserved1;
    unsigned long long reserved2;
    unsigned int reserved3;
    std::atomic<int> statusCallbackRunning;
    static_assert(sizeof(std::atomic<int>) == 4 && std::atomic<int>::is_always_lock_free);
};
