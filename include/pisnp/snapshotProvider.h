// Snapshot providers for hosts written in C++: the abstract provider, the volume manager
// provider and its factory, and the compare object that finds a provider by its ID.
//
// A provider belongs to whoever created it (normally the snapshot entry points and the
// registry, snapshotRegistry.h); the host drives it from one thread at a time, except for the
// status callback (bkpSnapshot.h).
#pragma once

#include <atomic>
#include <cstddef>

#include "bkpSnapshot.h"
#include "pisnp/dstring.h"
#include "pisnp/lists.h"
#include "pisnp_export.h"

// The abstract snapshot provider: one object per snapshot or snapshot set that the host drives,
// found again by its ID, the host's handle.
//
// The object owns a private copy of the host's volume list and of the pre- and post-snapshot
// commands; the host's records are never kept. Objects are allocated through the checked
// allocator, and allocation failure yields null rather than an exception.
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
    // The number of status callbacks inside the provider (1 while the host's one callback
    // runs): written by the host's status-callback thread and read by the thread that
    // terminates the snapshot. The library counts its callbacks itself and deletes the provider
    // only after the last one has left; a provider taken out of the registry finds no new ones.
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
    // Reserved for providers that need them. The volume manager provider keeps in the first
    // whether its own lvcreate succeeded and the snapshot has not been removed since: only then
    // does it run lvremove. The other two it does not use.
    unsigned int reserved1;
    unsigned long long reserved2;
    unsigned int reserved3;
    std::atomic<int> statusCallbackRunning;
    static_assert(sizeof(std::atomic<int>) == 4 && std::atomic<int>::is_always_lock_free);
};

// The volume manager provider: creates a snapshot logical volume of the first volume of its list
// with lvcreate and removes it with lvremove.
//
// Hosts run as root, so the provider guards the shell and other processes' snapshots:
//  - The first volume's device path must be /dev/<group>/<volume> with volume manager names
//    (letters, digits and + _ . -, not starting with -, not . or .., at most 127 characters);
//    any other path is refused (BKP_RC_INVALID_VOLUME_PATH) before a command line is written.
//  - lvremove runs only for a snapshot that this provider's own lvcreate made; after a failed
//    create, deleteSnapshot runs nothing and returns 0.
//  - An lvcreate that fails because another process took the name in the same second is tried
//    again with the next free name, within the same bound of five one-second pauses.
//  - While its snapshot stands, preparing or starting again is refused (BKP_RC_SNAPSHOT_STANDS)
//    and the names are kept.
//
// The directory of the volume manager's commands is found once, when the object is built, and
// prefixed to every command; when neither usual directory holds them the commands are left to
// the shell's search path. Operations that this provider does not need succeed without effect.
class PISNP_API DSnapshotProvider : public DssSnapshotProvider {
  public:
    DSnapshotProvider(unsigned int id, bkpSnapVolumeList_t* list, char* preCmd, char* postCmd,
                      unsigned int p1, unsigned int p2, unsigned int p3, unsigned int p4,
                      void* context);
    ~DSnapshotProvider() override;

    int initSnapshotProvider(unsigned short* major, unsigned short* minor) override;
    int termSnapshotProvider() override;
    int initializeSnapshot(unsigned int initArg, arcBool_t initFlag) override;
    int initializeSnapshotSet() override;
    int beginPrepareSnapshot() override;
    int endPrepareSnapshot() override;
    int startSnapshot(bkpSnapshotProperties_t* props) override;
    int endSnapshot(arcBool_t flag) override;
    int deleteSnapshot() override;
    int getOBFInfo(nfExtentListHdr* extents, char* info1, char* info2) override;
    int snapshotStatusCallback(bkpSnapshotStatus* status) override;
    int cleanUpOnError(bkpSnapshotStopMode mode) override;
    int getErrorInfo(bkpSnapshotErrorInfo_t* info) override;
    int cancelSnapshot(unsigned int value) override;
    int snapshotAction(piSnapshotActionIn_t* in, piSnapshotActionOut_t* out) override;
    // Writes a new snapshot name and tells whether its device path exists: 0 when it does.
    virtual int createSnapshotDevName();
    // True from this provider's own successful lvcreate until its lvremove succeeds.
    bool ownsSnapshot() const { return reserved1 != 0; }

    void queryLibVersion(unsigned short* version, unsigned short* release, unsigned short* level);
    int isSnapshotProviderInstalled();
    int installSnapshotProvider();
    int updateSnapshotProvider();
    int removeSnapshotProvider();

    // "/sbin/", "/usr/sbin/" or "".
    const char* getCommandDir() const { return commandDir; }
    // Null until the snapshot has been prepared.
    const char* getVolumeGroup() const { return volumeGroup; }
    const char* getSnapshotName() const { return snapshotName; }

  protected:
    char* volumeGroup;
    char* snapshotName;
    char commandDir[16];
};

// Builds a volume manager provider; null (traced) when it cannot be allocated. The caller owns
// the object.
PISNP_API DssSnapshotProvider* createSnapProvider(unsigned int id, bkpSnapVolumeList_t* list,
                                                  char* preCmd, char* postCmd, unsigned int p1,
                                                  unsigned int p2, unsigned int p3, unsigned int p4,
                                                  void* context);

// Finds a provider in a list by its ID.
class PISNP_API DssSnapshotProviderCompare : public DFccAbstractCompare {
  public:
    // item is a DssSnapshotProvider*, key points to an unsigned 32-bit ID: 0 when the provider
    // has that ID, 1 when its ID is greater, 2 when it is less.
    int ccCompare(void* item, void* key) override;
};
