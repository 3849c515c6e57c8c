#include "pisnp/pkMutex.h"

namespace {
MutexDesc sharedMutex{};
}

MutexDesc* pkCreateMutex() {
    return &sharedMutex;
}
int pkDestroyMutex(MutexDesc*) {
    return 0;
}
int pkAcquireMutex(MutexDesc*) {
    return 0;
}
int pkAcquireMutexNested(MutexDesc*) {
    return 0;
}
int pkReleaseMutex(MutexDesc*) {
    return 0;
}
int pkReleaseMutexNested(MutexDesc*) {
    return 0;
}
void pkTSD_callCleanUps() {}
