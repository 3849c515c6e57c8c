// Finds a provider in a list by its ID.
#pragma once

#include "containers/DFccAbstractCompare.h"
#include "pisnp_export.h"

class PISNP_API DssSnapshotProviderCompare : public DFccAbstractCompare {
  public:
    // item is a DssSnapshotProvider*, key points to an unsigned 32-bit ID: 0 when the provider
    // has that ID, 1 when its ID is greater, 2 when it is less.
    int ccCompare(void* item, void* key) override;
};
