// Helpers of the volume manager provider's real work (lvmSnapshotOps.cpp).
#pragma once

#include <cstdint>
#include <ctime>

#include "date/dateRecords.h"

namespace lvmops {

// Names are tried this often, a pause of kRetryPauseSeconds apart, before giving up.
inline constexpr int kMaxNamePauses = 5;
inline constexpr unsigned int kRetryPauseSeconds = 1;

// Snapshot size in KiB: one hundredth of the product of the two factors in bytes. The product
// wraps modulo 2^64, as the volume list's factors are unsigned 64-bit.
uint64_t snapshotSizeKiB(uint64_t sizeFactor1, uint64_t sizeFactor2);

// Room for a snapshot name in the provider's buffer, given the volume group's name length.
inline constexpr size_t snapshotNameRoom(size_t volumeGroupLength) {
    return volumeGroupLength + 41;
}

// Writes "bkpsnapshot_date_<month>_<day>_<year>_time_<hour>.<minute>.<second>" (no padding) into
// buf, truncated to room bytes.
void formatSnapshotName(char* buf, size_t room, const tm& when);

}  // namespace lvmops
