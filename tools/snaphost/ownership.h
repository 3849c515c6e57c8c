// Which run made a snapshot. Right after creating it, snaphost tags the snapshot with its run's
// identity: the host it runs on, that host's boot, its process and the process's start time.
// A later run can then tell a leftover (its run is gone) from a snapshot still in use, and
// --sweep removes exactly the leftovers.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "volumeManager.h"

namespace snaphost {

struct RunId {
    std::string host;  // as a tag can hold it
    std::string boot;  // the kernel's boot id
    long pid = 0;
    unsigned long long start = 0;  // the process's start, in clock ticks after boot
};

RunId thisRun();
std::string tagOf(const RunId& run);
// The run named by a snaphost tag among tags; none when there is no such tag.
std::optional<RunId> runOf(const std::vector<std::string>& tags);

enum class RunState { Alive, Gone, OtherHost };
// The start time of a live process, none when there is none: what tells a live run from one
// whose process number was handed to another process since.
using StartTimeProbe = std::function<std::optional<unsigned long long>(long pid)>;
std::optional<unsigned long long> processStartTime(long pid);
RunState stateOf(const RunId& run, const RunId& self, const StartTimeProbe& probe);

struct TaggedSnapshot {
    LogicalVolume volume;
    RunId run;
    RunState state;
};
// The snapshots among volumes that carry a snaphost tag, of origin only when it is not empty.
// Origins and snapshots without the tag are never among them.
std::vector<TaggedSnapshot> taggedSnapshots(const std::vector<LogicalVolume>& volumes,
                                            const std::string& origin, const RunId& self,
                                            const StartTimeProbe& probe);

}  // namespace snaphost
