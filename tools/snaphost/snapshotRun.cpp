#include "snapshotRun.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "backupCommand.h"
#include "exitCodes.h"
#include "fillWatch.h"
#include "hostServices.h"
#include "libraryLocation.h"
#include "messages.h"
#include "pluginLibrary.h"
#include "report.h"
#include "sizes.h"
#include "text.h"

#ifndef SNAPHOST_VERSION
#define SNAPHOST_VERSION "unknown"
#endif

namespace snaphost {

namespace {

// The plug-in's codes that name a cause a user can act on.
constexpr int kPluginNoFreeName = 5;
constexpr int kPluginPreFailed = 3;
constexpr int kPluginPostFailed = 4;
constexpr int kPluginMessageSystem = 610;

std::string elapsed(double seconds) {
    long s = static_cast<long>(seconds);
    if (s >= 3600) return strf("%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    return strf("%ld:%02ld", s / 60, s % 60);
}

// The name the plug-in gives a snapshot made now, for a dry run to show.
std::string snapshotNameNow() {
    time_t now = time(nullptr);
    tm local;
    localtime_r(&now, &local);
    return strf("bkpsnapshot_date_%d_%d_%d_time_%d.%d.%d", local.tm_mon + 1, local.tm_mday,
                local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
}

std::vector<std::string> substituted(const std::vector<std::string>& command,
                                     const std::string& device) {
    std::vector<std::string> out;
    for (const std::string& word : command) {
        std::string w;
        for (size_t i = 0; i < word.size(); ++i) {
            if (word.compare(i, 2, "{}") == 0) {
                w += device;
                ++i;
            } else {
                w += word[i];
            }
        }
        out.push_back(std::move(w));
    }
    return out;
}

// Two runs in one volume group would pick the same snapshot name within the same second; the
// one that lost would fail in lvcreate. Runs of a volume group therefore take turns from
// preparing the snapshot until it is created and tagged.
class GroupLock {
  public:
    GroupLock(const std::string& group, Report& report) {
        std::string dir = lockDirectory();
        if (dir.empty()) {
            SNAPHOST_TRACE(report, "no lock: /run/snaphost is not a directory of this user's alone");
            return;
        }
        std::string path = dir + "/" + group + ".lock";
        fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd_ == -1) {
            SNAPHOST_TRACE(report, "no lock: %s: %s", path.c_str(), std::strerror(errno));
            return;
        }
        double start = monotonicSeconds();
        bool told = false;
        while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if (interruptSignal() != 0 || monotonicSeconds() - start > 300) {
                report.warn(strf("another snaphost run kept volume group %s to itself for too "
                                 "long; going on without waiting",
                                 group.c_str()));
                close(fd_);
                fd_ = -1;
                return;
            }
            if (!told && monotonicSeconds() - start > 1) {
                report.detail(strf("waiting for another snaphost run to create its snapshot in %s",
                                   group.c_str()));
                told = true;
            }
            usleep(100 * 1000);
        }
        SNAPHOST_TRACE(report, "volume group %s locked", group.c_str());
    }
    ~GroupLock() { release(); }
    void release() {
        if (fd_ != -1) close(fd_);
        fd_ = -1;
    }

  private:
    int fd_ = -1;
};

class SnapshotRun {
  public:
    SnapshotRun(const Options& options, const VolumePath& origin, Report& report)
        : options_(options), origin_(origin), report_(report), lvm_(report), self_(thisRun()) {}

    int run() {
        report_.result().set("action", "run");
        report_.result().set("dry_run", options_.dryRun);
        report_.result().set("volume", origin_.device());
        report_.result().set("snapshot", Json());
        if (!loadLibrary()) return report_.exitCode();
        stage("inspect");
        if (inspect(options_, origin_, lvm_, report_, self_, &inspection_) != kExitOk)
            return report_.exitCode();
        if (options_.dryRun) {
            showPlan();
            return report_.exitCode();
        }
        setenv("SNAPHOST_ORIGIN", origin_.device().c_str(), 1);
        if (!runLock_.acquire(self_))
            SNAPHOST_TRACE(report_, "no run lock: a sweep will judge this run by its process");
        if (startPlugin()) snapshotAndBackUp();
        stopPlugin();
        report_.endStage();
        summarise();
        // The object is never destroyed (the library keeps the host services' address).
        runLock_.release();
        return report_.exitCode();
    }

  private:
    // A new stage: messages left from the one before belong to it, not to this one. They are
    // only left when that stage succeeded anyway, which is worth a warning.
    void stage(const char* key) {
        for (const Explanation& e : pending_) {
            report_.warn(e.program.empty() ? "the plug-in reported:" : e.program + " said:");
            for (const std::string& w : e.words) report_.warn("  " + w);
        }
        pending_.clear();
        report_.beginStage(key);
    }

    // The plug-in's code, for -v only: the words are what explains a failure.
    std::string code(int rc) const {
        return report_.verbosity() >= Report::kVerbose ? strf(" (plug-in code %d)", rc)
                                                       : std::string();
    }

    // Fails the stage with what the volume manager said about it.
    void failWithWords(int exit, const std::string& what, int rc, const std::string& hint = "") {
        std::vector<std::string> words;
        std::string who;
        for (const Explanation& e : pending_) {
            if (who.empty()) who = e.program;
            words.insert(words.end(), e.words.begin(), e.words.end());
            if (report_.verbosity() >= Report::kVerbose && !e.internal.empty()) {
                words.push_back("(" + e.internal + ")");
                words.insert(words.end(), e.catalog.begin(), e.catalog.end());
            }
        }
        pending_.clear();
        std::string text = what + code(rc);
        text += words.empty() ? " (the volume manager gave no reason)" : "; " + who + " said:";
        report_.fail(exit, text, words);
        if (!hint.empty()) report_.error(hint);
    }

    bool loadLibrary() {
        stage("load");
        std::string why;
        library_ = hostkit::PluginLibrary::load(libraryCandidates(options_), &why);
        if (!library_) {
            std::vector<std::string> tried = lines(why);
            for (std::string& t : tried) t = trim(t);
            if (!tried.empty() && tried.front().empty()) tried.erase(tried.begin());
            tried.push_back("Point snaphost at the library with --library PATH or "
                            "SNAPHOST_LIBRARY=PATH.");
            report_.fail(kExitLibrary, "the plug-in library libPiSNP.so could not be loaded; "
                                       "tried:",
                         tried);
            return false;
        }
        report_.detail("plug-in library " + library_->path() + " loaded");
        report_.result().set("library", library_->path());
        return true;
    }

    bool startPlugin() {
        stage("start");
        clientDir_ = clientDirectory(options_, library_->path());
        host_ = std::make_unique<hostkit::HostServices>(kCatalogName, "");
        if (!host_->setClientDir(clientDir_)) {
            report_.fail(kExitPluginStart, "the client directory '" + clientDir_ + "' is too long");
            return false;
        }
        if (report_.tracing())
            host_->onTrace([this](const char* file, int line, const std::string& text) {
                report_.traceAt(file, line, text);
            });
        host_->onMessage([this](const hostkit::PluginMessage& m) {
            SNAPHOST_TRACE(report_, "plug-in message %d (%s) from %s:%d: %s", m.number,
                           m.where.c_str(), m.file.c_str(), m.line, m.errorText.c_str());
            pending_.push_back(explain(m, clientDir_));
        });
        const hostkit::EntryPoints& lib = library_->entry();
        piSnapAttrib_t attrib{};
        piAppInfo_t info{};
        info.hostAttrib = &attrib;
        int queryRc = lib.queryApp(nullptr, &info);
        piSnapshotInitIn_t in{};
        piSnapshotInitOut_t out{};
        in.hostServices = host_->services();
        int16_t rc = lib.snapshotInit(&in, &out);
        SNAPHOST_TRACE(report_, "piQueryApp: rc %d; piSnapshotInit: rc %d, provider %u.%u",
                       queryRc, rc, out.versionMajor, out.versionMinor);
        if (queryRc != 0) {
            report_.fail(kExitPluginStart, "starting the plug-in failed" + code(queryRc));
            return false;
        }
        if (rc == kPluginMessageSystem) {
            report_.fail(kExitPluginStart,
                         strf("starting the plug-in failed%s: its message system did not start; "
                              "is %s/EN_US/%s there? (see --client-dir)",
                              code(rc).c_str(), clientDir_.c_str(), kCatalogName));
            return false;
        }
        if (rc != 0) {
            report_.fail(kExitPluginStart, "starting the plug-in failed" + code(rc));
            return false;
        }
        return true;
    }

    void stopPlugin() {
        if (!library_ || !host_) return;
        // The library is told to stop in every state it may be in.
        stage("stop");
        int rc = library_->entry().terminate();
        SNAPHOST_TRACE(report_, "piTerminate: rc %d", rc);
        if (rc != 0) report_.fail(kExitPluginStop, "stopping the plug-in failed" + code(rc));
    }

    // Everything between a started plug-in and its end: prepare, pre command, create, tag,
    // post command, backup, end, remove.
    void snapshotAndBackUp() {
        const hostkit::EntryPoints& lib = library_->entry();
        GroupLock lock(origin_.group, report_);
        stage("prepare");
        std::string source = origin_.device();
        bkpSnapVolumeList_t volume{};
        volume.source = source.data();
        volume.volumeName = origin_.name.data();
        // The plug-in asks for factor1 x factor2 / 100 bytes, in KiB.
        volume.sizeFactor1 = inspection_.requested;
        volume.sizeFactor2 = 100;
        bkpSnapshotInitIn_t init{};
        std::string pre = options_.pre.value_or(""), post = options_.post.value_or("");
        init.preSnapshotCmd = options_.pre ? pre.data() : nullptr;
        init.postSnapshotCmd = options_.post ? post.data() : nullptr;
        unsigned int handle = 0;
        int16_t rc = lib.initializeSnapshot(&volume, &init, BKP_SNAP_MODE_CREATE_AND_PREPARE,
                                            &handle, 0);
        SNAPHOST_TRACE(report_, "bkpInitializeSnapshot: rc %d, handle %u", rc, handle);
        if (rc != 0) {
            report_.fail(kExitPrepare,
                         "preparing the snapshot failed" + code(rc) +
                             (rc == kPluginNoFreeName
                                  ? ": every snapshot name tried exists already in " + origin_.group
                                  : std::string()));
            return;
        }
        if (interruptSignal() != 0) return;

        // Once the pre command has run, the post command has to run as well: it is what undoes
        // the pre command's work, whether or not the snapshot came about.
        stage("pre");
        if (options_.pre) report_.detail("running the pre-snapshot command: " + pre);
        bkpSnapshotCmdRec_t cmd{};
        rc = lib.preStartSnapshot(handle, &cmd);
        SNAPHOST_TRACE(report_, "bkpPreStartSnapshot: rc %d, command rc %d", rc, cmd.cmdRc);
        bool preOk = rc == 0;
        if (rc == kPluginPreFailed)
            report_.fail(kExitPreCommand,
                         strf("the pre-snapshot command failed: it exited with status %d",
                              cmd.cmdRc));
        else if (rc != 0)
            report_.fail(kExitPreCommand, "the pre-snapshot command failed" + code(rc));

        bool created = false;
        bkpSnapshotStartOut_t start{};
        if (preOk && interruptSignal() == 0) {
            stage("create");
            rc = lib.startSnapshot(handle, &start);
            start.props.devicePath[sizeof start.props.devicePath - 1] = '\0';
            SNAPHOST_TRACE(report_, "bkpStartSnapshot: rc %d, device '%s'", rc,
                           start.props.devicePath);
            // Only a snapshot this run's own lvcreate made is ever removed: a device of that
            // name after a failure belongs to someone else.
            if (rc == 0) {
                created = true;
                device_ = start.props.devicePath;
                name_ = device_.substr(device_.rfind('/') + 1);
                report_.result().set("snapshot", device_);
                report_.detail(strf("snapshot %s of %s created (%s)", device_.c_str(),
                                    origin_.device().c_str(),
                                    formatBytes(inspection_.allocated).c_str()));
                setenv("SNAPHOST_DEVICE", device_.c_str(), 1);
                tag();
            } else {
                failWithWords(kExitCreate, "creating the snapshot of " + origin_.shortName() +
                                               " failed", rc);
            }
        }
        lock.release();

        bool postOk = true;
        stage("post");
        if (options_.post) report_.detail("running the post-snapshot command: " + post);
        cmd = bkpSnapshotCmdRec_t{};
        rc = lib.postStartSnapshot(handle, &cmd);
        SNAPHOST_TRACE(report_, "bkpPostStartSnapshot: rc %d, command rc %d", rc, cmd.cmdRc);
        if (rc != 0) {
            postOk = false;
            if (rc == kPluginPostFailed)
                report_.fail(kExitPostCommand,
                             strf("the post-snapshot command failed: it exited with status %d",
                                  cmd.cmdRc));
            else
                report_.fail(kExitPostCommand, "the post-snapshot command failed" + code(rc));
        }

        bool backupOk = false;
        if (created && report_.exitCode() == kExitOk && postOk && interruptSignal() == 0)
            backupOk = backUp();

        // From here on nothing may skip the removal: not a failure, not a signal.
        if (!created) return;
        stage("end");
        // The flag tells the plug-in whether the snapshot served its purpose.
        rc = lib.endSnapshot(handle, backupOk ? 1 : 0);
        SNAPHOST_TRACE(report_, "bkpEndSnapshot: rc %d", rc);
        if (rc != 0) report_.fail(kExitEnd, "ending the snapshot failed" + code(rc));

        stage("remove");
        report_.detail("removing snapshot " + device_);
        rc = lib.terminateSnapshot(handle);
        SNAPHOST_TRACE(report_, "bkpTerminateSnapshot: rc %d", rc);
        if (rc != 0)
            failWithWords(kExitRemove, "removing the snapshot " + origin_.group + "/" + name_ +
                                           " failed", rc,
                          strf("It may still exist: check with  lvs %s  and remove it with:  "
                               "lvremove -f %s/%s",
                               origin_.group.c_str(), origin_.group.c_str(), name_.c_str()));
        else
            report_.detail("snapshot " + device_ + " removed");
        if (overflowed_) reportOverflow();
    }

    void tag() {
        stage("tag");
        std::vector<std::string> words;
        if (!lvm_.addTag(origin_.group, name_, tagOf(self_), &words)) {
            report_.warn(strf("the snapshot could not be tagged as this run's; should snaphost "
                              "be killed, --sweep will not know it as a leftover. lvchange said:"));
            for (const std::string& w : words) report_.warn("  " + w);
        }
    }

    // Runs the backup command on the snapshot and watches the snapshot fill meanwhile.
    // Returns whether the backup succeeded on a snapshot that stayed valid.
    bool backUp() {
        stage("backup");
        std::vector<std::string> argv = substituted(options_.command, device_);
        report_.detail("running the backup command: " + shellWords(argv));
        backupStart_ = monotonicSeconds();
        BackupOutcome outcome = runBackupCommand(
            argv, FillWatch::kFirstDelay, [this] { return watchTick(); }, report_);
        report_.endProgress();
        backupSeconds_ = monotonicSeconds() - backupStart_;
        // The command may have finished before a reading caught the overflow.
        if (!overflowed_) readFill(true);
        if (overflowed_) report_.stageFailed();
        if (!outcome.started) {
            if (outcome.startError != "interrupted")
                report_.fail(kExitBackup, strf("the backup command could not be started: %s: %s",
                                               argv[0].c_str(), outcome.startError.c_str()));
            return false;
        }
        int status = outcome.status;
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
            report_.detail("the backup command succeeded");
            return !overflowed_;
        }
        // Ctrl-C at the terminal reaches only the command, which then stands for the whole
        // run having been interrupted.
        if (WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) noteInterrupt(SIGINT);
        if (!outcome.endedByUs)
            report_.fail(kExitBackup, "the backup command failed: " + argv[0] + " " +
                                          describeStatus(status));
        return false;
    }

    // One reading of the fill level; false when the snapshot overflowed.
    bool readFill(bool last) {
        std::vector<LogicalVolume> found;
        std::vector<std::string> words;
        double now = monotonicSeconds();
        if (!lvm_.volumes(origin_.group + "/" + name_, &found, &words) || found.empty()) {
            if (!fillUnreadable_) {
                report_.warn("the snapshot's fill level could not be read; lvs said:");
                for (const std::string& w : words) report_.warn("  " + w);
            }
            fillUnreadable_ = true;
            return true;
        }
        const LogicalVolume& snap = found.front();
        if (snap.isInvalid()) {
            overflowed_ = true;
            overflowAfterCommand_ = last;
            watch_.record(now - backupStart_, 100);
            return false;
        }
        delay_ = watch_.record(now - backupStart_, snap.dataPercent.value_or(0));
        showFill(now, last);
        return true;
    }

    double watchTick() { return readFill(false) ? delay_ : -1; }

    void showFill(double now, bool last) {
        std::string size = formatBytes(inspection_.allocated);
        if (report_.verbosity() >= Report::kDebug)
            report_.detail(strf("snapshot fill level: %.2f %%; next reading in %.2f s",
                                watch_.last(), delay_));
        if (last) return;
        if (report_.progressOnTerminal()) {
            report_.progress(strf("snapshot %.1f %% full (peak %.1f %%) of %s, backup running %s",
                                  watch_.last(), watch_.peak(), size.c_str(),
                                  elapsed(now - backupStart_).c_str()));
        } else if (watch_.tenthsReached() > shownTenths_) {
            shownTenths_ = watch_.tenthsReached();
            report_.progress(strf("snapshot %d %% full (of %s) after %s of backup",
                                  shownTenths_ * 10, size.c_str(),
                                  elapsed(now - backupStart_).c_str()));
        }
    }

    void reportOverflow() {
        uint64_t suggestion = suggestedSize(inspection_);
        std::string text = strf(
            "the snapshot overflowed: more than its %s of changes were written to %s while the "
            "backup command ran, so the snapshot became invalid and what the command read from "
            "it is not a usable backup.",
            formatBytes(inspection_.allocated).c_str(), origin_.shortName().c_str());
        text += overflowAfterCommand_
                    ? "\nThe backup command had finished already; its result must not be "
                      "trusted. The snapshot was removed."
                    : "\nThe backup command was ended and the snapshot removed.";
        if (suggestion > inspection_.allocated) {
            text += strf("\nTry a larger snapshot: --size %s", sizeOption(suggestion).c_str());
            text += suggestion <= inspection_.group.free
                        ? strf(" (volume group %s has %s free).", origin_.group.c_str(),
                               formatBytes(inspection_.group.free).c_str())
                        : strf("; volume group %s has only %s free, so make room there first, "
                               "or back up when less is written to %s.",
                               origin_.group.c_str(), formatBytes(inspection_.group.free).c_str(),
                               origin_.shortName().c_str());
        }
        report_.failAbove(kExitOverflow, text);
    }

    void summarise() {
        report_.result().set("overflowed", overflowed_);
        report_.result().set("peak_fill_percent", watch_.sampled() ? Json(watch_.peak()) : Json());
        if (!watch_.sampled() || overflowed_) return;
        report_.say(strf("the snapshot (%s) was at most %.1f %% full during the backup, which "
                         "took %s",
                         formatBytes(inspection_.allocated).c_str(), watch_.peak(),
                         elapsed(backupSeconds_).c_str()));
    }

    void showPlan() {
        std::string name = snapshotNameNow();
        std::string snapDevice = "/dev/" + origin_.group + "/" + name;
        const Inspection& in = inspection_;
        Json commands = Json::array();
        auto command = [&](const std::vector<std::string>& argv) {
            std::string line = shellWords(VolumeManager::resolved(argv));
            commands.push(line);
            return line;
        };
        report_.plan("dry run: nothing is created, changed or removed");
        report_.plan(strf("volume:       %s, %s%s", origin_.device().c_str(),
                          formatBytes(in.volume.size).c_str(),
                          in.volume.isThin() ? ", a thin volume" : ""));
        report_.plan(strf("volume group: %s, %s free, extents of %s", origin_.group.c_str(),
                          formatBytes(in.group.free).c_str(), formatBytes(in.group.extent).c_str()));
        report_.plan(strf("snapshot:     %s asked for (--size %s), %s allocated in whole extents%s",
                          formatBytes(in.requested).c_str(), options_.size.text().c_str(),
                          formatBytes(in.allocated).c_str(),
                          in.volume.isThin() ? "; a thick snapshot from the volume group's free "
                                               "space, not from the thin pool"
                                             : ""));
        report_.plan("library:      " + library_->path());
        int leftovers = 0;
        for (const TaggedSnapshot& s : in.snapshots) leftovers += s.state == RunState::Gone;
        report_.plan(leftovers == 0 ? "leftovers:    none"
                                    : strf("leftovers:    %d (snaphost --sweep %s removes them)",
                                           leftovers, origin_.group.c_str()));
        report_.plan("a run would, in this order:");
        if (options_.pre) report_.plan("  run the pre-snapshot command:  " + *options_.pre);
        report_.plan("  " + command({"lvcreate", "-L", strf("%lluK", static_cast<unsigned long long>(
                                                                     in.requested / 1024)),
                                    "-n", name, "-s", origin_.device()}));
        report_.plan("  " + command({"lvchange", "--addtag", tagOf(self_),
                                    origin_.group + "/" + name}));
        if (options_.post) report_.plan("  run the post-snapshot command: " + *options_.post);
        report_.plan("  run the backup command:        " +
                     shellWords(substituted(options_.command, snapDevice)));
        report_.plan("  and meanwhile read the fill level with:");
        report_.plan("    " + command({"lvs", "--noheadings", "--nosuffix", "--units", "b",
                                        "--separator", "|", "-o", kVolumeFields,
                                        origin_.group + "/" + name}));
        report_.plan("  " + command({"lvremove", "-f", snapDevice}));
        report_.plan("(the snapshot is named after the time it is created)");
        report_.plan("checks passed: the library loads; the volume exists and is active;");
        report_.plan("  the snapshot fits in the free space; the backup command can be started");
        report_.result().set("commands", commands);
    }

    const Options& options_;
    VolumePath origin_;
    Report& report_;
    VolumeManager lvm_;
    RunId self_;
    RunLock runLock_;
    Inspection inspection_;
    std::unique_ptr<hostkit::PluginLibrary> library_;
    std::unique_ptr<hostkit::HostServices> host_;
    std::string clientDir_;
    std::vector<Explanation> pending_;
    std::string device_;
    std::string name_;
    FillWatch watch_;
    double delay_ = FillWatch::kFirstDelay;
    double backupStart_ = 0;
    double backupSeconds_ = 0;
    int shownTenths_ = 0;
    bool overflowed_ = false;
    bool overflowAfterCommand_ = false;
    bool fillUnreadable_ = false;
};

}  // namespace

int runSnapshot(const Options& options, const VolumePath& origin, Report& report) {
    // The host services object must outlive the library's use of it: the library keeps its
    // address until the process ends, so the run object is never destroyed.
    static SnapshotRun* run = new SnapshotRun(options, origin, report);
    return run->run();
}

int showVersion(const Options& options) {
    std::printf("snaphost %s\n", SNAPHOST_VERSION);
    std::string why;
    std::unique_ptr<hostkit::PluginLibrary> library =
        hostkit::PluginLibrary::load(libraryCandidates(options), &why);
    if (library) {
        std::printf("library:  %s\n", library->path().c_str());
        std::printf("catalogs: %s\n", clientDirectory(options, library->path()).c_str());
    } else {
        std::printf("library:  libPiSNP.so not found; tried:%s\n", why.c_str());
        std::printf("Point snaphost at it with --library PATH or SNAPHOST_LIBRARY=PATH.\n");
    }
    return kExitOk;
}

}  // namespace snaphost
