// Functions that other platforms fill with work and this one answers with a constant, so that
// a host written for all of them links and runs here.
#include "pisnp/files.h"
#include "pisnp/processes.h"
#include "pisnp/resultCodes.h"

int psFileGetTime(...) {
    return 0;
}
int psGetAllocationGranularity(...) {
    return 0;
}
int psFileMapView(...) {
    return 0;
}
int psFileMap(...) {
    return 0;
}
int psFileMapEx(...) {
    return 0;
}
int psFileRename(...) {
    return 0;
}
int psFileSeek(...) {
    return 0;
}
int psFileSeek64(...) {
    return 0;
}
int psFileSetTime(...) {
    return 0;
}
int psIsHardLink(...) {
    return 0;
}
int psFileRemoveEx(...) {
    return PISNP_RC_NOT_SUPPORTED;
}
int psFileRenameEx(...) {
    return PISNP_RC_NOT_SUPPORTED;
}
int psFileCaseDirectory(...) {
    return PISNP_RC_NOT_SUPPORTED;
}
int psFileEnumEntriesWithCallback(...) {
    return PISNP_RC_NOT_ON_PLATFORM;
}
int psFileBackupCopyWithCallback(...) {
    return -1;
}
int psResetAccessDate(...) {
    return -1;
}
int psCreateFileMap(...) {
    return -1;
}
void psFileUnmap(...) {}
void psMoveFilesInDir(...) {}

int psStoreSchedIDforCad(...) {
    return 0;
}
int psReplaceOnReboot(...) {
    return 0;
}
int psCheckDescLength(...) {
    return 0;
}
int psRunningWinPEMode(...) {
    return 0;
}
int psIsHotfixInstalled(...) {
    return 0;
}
int psValidateWindowsUser(...) {
    return 0;
}
int psValidOsLevel(...) {
    return 1;
}
int psImpersonateUser(...) {
    return PISNP_RC_NOT_ON_PLATFORM;
}
int psRevertUser(...) {
    return PISNP_RC_NOT_ON_PLATFORM;
}
int psCmdExecuteW(...) {
    return PISNP_RC_NOT_ON_PLATFORM;
}
int psOnlineSnapshot(...) {
    return PISNP_RC_NOT_ON_PLATFORM;
}
void psRebootMachine(...) {}
void psOutOfMemoryAbort(...) {}
