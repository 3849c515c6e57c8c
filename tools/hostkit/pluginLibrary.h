// Loading libPiSNP.so the way a host does: dlopen, then every entry point by name.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bkpSnapshot.h"
#include "piPlugin.h"

namespace hostkit {

// Every entry point of the library: its pointer type, the member that holds it, its symbol.
#define HOSTKIT_ENTRY_POINTS(X)                                                   \
    X(piQueryApp_fn, queryApp, "piQueryApp")                                      \
    X(piSnapshotInit_fn, snapshotInit, "piSnapshotInit")                          \
    X(piTerminate_fn, terminate, "piTerminate")                                   \
    X(bkpInitializeSnapshotSet_fn, initializeSnapshotSet, "bkpInitializeSnapshotSet") \
    X(bkpInitializeSnapshot_fn, initializeSnapshot, "bkpInitializeSnapshot")      \
    X(bkpTerminateSnapshot_fn, terminateSnapshot, "bkpTerminateSnapshot")         \
    X(bkpStartSnapshot_fn, startSnapshot, "bkpStartSnapshot")                     \
    X(bkpPreStartSnapshot_fn, preStartSnapshot, "bkpPreStartSnapshot")            \
    X(bkpPostStartSnapshot_fn, postStartSnapshot, "bkpPostStartSnapshot")         \
    X(bkpEndSnapshot_fn, endSnapshot, "bkpEndSnapshot")                           \
    X(bkpOBFGetInfo_fn, obfGetInfo, "bkpOBFGetInfo")                              \
    X(bkpSnapshotStatusCallback_fn, statusCallback, "bkpSnapshotStatusCallback")  \
    X(bkpSnapshotGetErrorInfo_fn, getErrorInfo, "bkpSnapshotGetErrorInfo")        \
    X(bkpCancelSnapshot_fn, cancelSnapshot, "bkpCancelSnapshot")                  \
    X(bkpSnapshotAction_fn, snapshotAction, "bkpSnapshotAction")

struct EntryPoints {
#define HOSTKIT_DECLARE_ENTRY(type, member, symbol) type member = nullptr;
    HOSTKIT_ENTRY_POINTS(HOSTKIT_DECLARE_ENTRY)
#undef HOSTKIT_DECLARE_ENTRY
};

class PluginLibrary {
  public:
    // Loads the first candidate that loads and has every entry point. A candidate with a slash
    // is a path; a bare name goes through the dynamic loader's search. Returns null when none
    // did, with one line per candidate and its reason in *why.
    static std::unique_ptr<PluginLibrary> load(const std::vector<std::string>& candidates,
                                               std::string* why);

    const EntryPoints& entry() const { return entry_; }
    // The file the loader actually opened, links resolved.
    const std::string& path() const { return path_; }

  private:
    PluginLibrary() = default;
    // The library is never closed: its runtime keeps blocks for the whole process, and it keeps
    // the address of the host's services object.
    void* handle_ = nullptr;
    EntryPoints entry_;
    std::string path_;
};

}  // namespace hostkit
