// Helpers of the volume manager provider's real work (lvmSnapshotOps.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string_view>

#include "pisnp/dates.h"

namespace lvmops {

// Names are tried this often, a pause of kRetryPauseSeconds apart, before giving up.
inline constexpr int kMaxNamePauses = 5;
inline constexpr unsigned int kRetryPauseSeconds = 1;

// The volume manager refuses longer volume group and logical volume names.
inline constexpr size_t kMaxVolumeNameLen = 127;
// Room for either command line: the directory, the fixed words, the size and three names.
inline constexpr size_t kCommandRoom = 4 * kMaxVolumeNameLen + 160;

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

// The command lines run through the shell hold nothing but these names and fixed words, so that
// nothing a host passes can reach the shell as syntax. A name is 1 to 127 letters, digits, '+',
// '_', '.' and '-', does not start with '-' and is not "." or "..".
bool validVolumeName(std::string_view name);
// True when path is "/dev/<group>/<volume>" with two valid names; *group receives the first.
bool parseVolumePath(const char* path, std::string_view* group);

// The create and remove command lines, in buffers of kCommandRoom bytes. False, with nothing
// written that could be run, when the directory is not one of "", "/sbin/", "/usr/sbin/" or a
// name or the source path is not valid.
bool formatCreateCommand(char* buf, const char* dir, uint64_t sizeKiB, const char* name,
                         const char* source);
bool formatRemoveCommand(char* buf, const char* dir, const char* group, const char* name);

}  // namespace lvmops
