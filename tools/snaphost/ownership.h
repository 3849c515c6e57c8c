// Which run made a snapshot, and whether that run still lives. Right after creating it, snaphost
// tags the snapshot with its run's identity: the host it runs on, that host's boot, its PID
// namespace, its process and the process's start time. For its whole life a run also holds a
// lock named after its process. A later run can then tell a leftover (its run is gone) from a
// snapshot still in use, and --sweep removes exactly the leftovers.
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
    std::string ns;    // the PID namespace the process number belongs to
    long pid = 0;
    unsigned long long start = 0;  // the process's start, in clock ticks after boot
};

RunId thisRun();
std::string tagOf(const RunId& run);
// The run named by a snaphost tag among tags; none when there is no such tag.
std::optional<RunId> runOf(const std::vector<std::string>& tags);

// Where snaphost keeps its locks: a directory only root may write, so that nobody else can
// hold a lock there or plant a link. Empty when there is none to be had.
std::string lockDirectory();

// The lock a run holds while it lives. The kernel lets go of it when the process ends, however
// it ends; the file is removed at a normal end.
class RunLock {
  public:
    RunLock() = default;
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;
    bool acquire(const RunId& run);
    void release();

  private:
    int fd_ = -1;
    std::string path_;
};

enum class LockState { Held, Free, Absent };

// How a run is looked for on this host: its lock, and its process's start time.
struct RunProbe {
    std::function<LockState(const RunId&)> lock;
    std::function<std::optional<unsigned long long>(long pid)> startTime;
};
RunProbe systemProbe();
std::optional<unsigned long long> processStartTime(long pid);

enum class RunState { Alive, Gone, OtherHost };
// A run's own lock is the surest sign: held, it lives; left free, it is gone. Only where there
// is no lock file (no lock directory) does the process decide, by number and start time, since
// a process number is handed on after its process ends.
RunState stateOf(const RunId& run, const RunId& self, const RunProbe& probe);

struct TaggedSnapshot {
    LogicalVolume volume;
    RunId run;
    RunState state;
};
// The snapshots among volumes that carry a snaphost tag, of origin only when it is not empty.
// Origins and snapshots without the tag are never among them.
std::vector<TaggedSnapshot> taggedSnapshots(const std::vector<LogicalVolume>& volumes,
                                            const std::string& origin, const RunId& self,
                                            const RunProbe& probe);

// Removes the lock file a gone run left behind.
void forgetRun(const RunId& run);

}  // namespace snaphost
