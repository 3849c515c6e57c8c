// The volume manager provider: creates a snapshot logical volume of the first volume of its list
// with lvcreate and removes it with lvremove.
//
// The directory of the volume manager's commands is found once, when the object is built, and
// prefixed to every command; when neither usual directory holds them the commands are left to
// the shell's search path. Operations that this provider does not need succeed without effect.
#pragma once

#include "snapshot/DssSnapshotProvider.h"

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
