// What snaphost checks before it creates anything: the volume and its volume group as the
// volume manager sees them, the snapshot's size against the free space, the backup command,
// and snapshots that earlier runs left behind.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "commandLine.h"
#include "ownership.h"
#include "volumeManager.h"

namespace snaphost {

class Report;

struct VolumePath {
    std::string group;
    std::string name;
    std::string device() const { return "/dev/" + group + "/" + name; }
    std::string shortName() const { return group + "/" + name; }
};

// /dev/VG/LV or VG/LV, with names the volume manager allows (the plug-in puts the path into a
// shell command line, so nothing else may pass).
std::optional<VolumePath> parseVolumePath(std::string_view arg);
// VG or /dev/VG.
std::optional<std::string> parseGroupName(std::string_view arg);

struct Inspection {
    VolumePath origin;
    LogicalVolume volume;
    VolumeGroup group;
    uint64_t requested = 0;  // bytes asked for
    uint64_t allocated = 0;  // in whole extents, as the volume manager allocates them
    std::vector<TaggedSnapshot> snapshots;  // snaphost's snapshots of this volume
};

// Runs every check, reports what failed and returns its exit code; 0 when all passed.
int inspect(const Options& options, const VolumePath& origin, VolumeManager& lvm, Report& report,
            const RunId& self, Inspection* out);

// The size to suggest after an overflow of a snapshot of `allocated` bytes.
uint64_t suggestedSize(const Inspection& inspection);

// Where COMMAND's program is, or empty when it cannot be started.
std::string findProgram(const std::string& name);

}  // namespace snaphost
