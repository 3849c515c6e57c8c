#include <algorithm>

#include "exitCodes.h"
#include "inspect.h"
#include "ownership.h"
#include "report.h"
#include "sizes.h"
#include "snapshotRun.h"
#include "text.h"
#include "volumeManager.h"

namespace snaphost {

int sweepLeftovers(const Options& options, const std::string& group, Report& report) {
    report.result().set("action", "sweep");
    report.result().set("dry_run", options.dryRun);
    report.result().set("volume_group", group);
    VolumeManager lvm(report);
    report.beginStage("inspect");
    VolumeGroup vg;
    std::vector<LogicalVolume> all;
    std::vector<std::string> words;
    if (!lvm.group(group, &vg, &words)) {
        report.fail(kExitVolume, "volume group " + group + " could not be read; vgs said:", words);
        return kExitVolume;
    }
    if (!lvm.volumes(group, &all, &words)) {
        report.fail(kExitVolume, "the volumes of " + group + " could not be read; lvs said:",
                    words);
        return kExitVolume;
    }
    RunId self = thisRun();
    Json removed = Json::array(), kept = Json::array(), failed = Json::array();
    report.beginStage("sweep");
    int leftovers = 0;
    for (const TaggedSnapshot& s : taggedSnapshots(all, "", self, systemProbe())) {
        std::string name = group + "/" + s.volume.name;
        std::string what = strf("%s (a snapshot of %s/%s, %s, made by snaphost process %ld on %s)",
                                name.c_str(), group.c_str(), s.volume.origin.c_str(),
                                formatBytes(s.volume.size).c_str(), s.run.pid,
                                s.run.host.c_str());
        if (s.state == RunState::Alive) {
            report.detail("kept " + what + ": that run is still going");
            kept.push("/dev/" + name);
            continue;
        }
        if (s.state == RunState::OtherHost) {
            report.say("kept " + what + ": whether that run is over can only be seen on " +
                       s.run.host);
            kept.push("/dev/" + name);
            continue;
        }
        ++leftovers;
        if (options.dryRun) {
            report.plan("would remove " + what + ":  " +
                        shellWords(VolumeManager::resolved({"lvremove", "-f", name})));
            removed.push("/dev/" + name);
            continue;
        }
        if (lvm.remove(group, s.volume.name, &words)) {
            forgetRun(s.run);
            report.say("removed " + what);
            removed.push("/dev/" + name);
        } else {
            if (s.volume.isOpen())
                words.push_back("(it is open: a process still reads it; find it with  fuser -v "
                                "/dev/" + name + "  and end it first)");
            report.fail(kExitRemove, "removing the leftover " + name + " failed; lvremove said:",
                        words);
            failed.push("/dev/" + name);
        }
    }
    if (leftovers == 0) report.say("no leftovers of snaphost in volume group " + group);
    report.result().set("removed", removed);
    report.result().set("kept", kept);
    report.result().set("failed", failed);
    return report.exitCode();
}

}  // namespace snaphost
