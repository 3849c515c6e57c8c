#include "pisnp/snapshotProvider.h"

int DssSnapshotProviderCompare::ccCompare(void* item, void* key) {
    unsigned int id = static_cast<DssSnapshotProvider*>(item)->getSnapshotID();
    unsigned int wanted = *static_cast<unsigned int*>(key);
    if (id < wanted) return kLess;
    if (id > wanted) return kGreater;
    return kEqual;
}
