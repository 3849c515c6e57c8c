#include "inspect.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "exitCodes.h"
#include "report.h"
#include "sizes.h"
#include "text.h"

namespace snaphost {

namespace {

bool isVolumeName(std::string_view name) {
    if (name.empty() || name[0] == '-' || name == "." || name == "..") return false;
    return name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                  "0123456789+_.-") == std::string_view::npos;
}

std::string runWords(const TaggedSnapshot& s) {
    return strf("process %ld on %s", s.run.pid, s.run.host.c_str());
}

}  // namespace

std::optional<VolumePath> parseVolumePath(std::string_view arg) {
    if (arg.starts_with("/dev/")) arg.remove_prefix(5);
    size_t slash = arg.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    std::string_view group = arg.substr(0, slash), name = arg.substr(slash + 1);
    if (!isVolumeName(group) || !isVolumeName(name) || group == "mapper") return std::nullopt;
    return VolumePath{std::string(group), std::string(name)};
}

std::optional<std::string> parseGroupName(std::string_view arg) {
    if (arg.starts_with("/dev/")) arg.remove_prefix(5);
    if (!arg.empty() && arg.back() == '/') arg.remove_suffix(1);
    if (!isVolumeName(arg) || arg == "mapper") return std::nullopt;
    return std::string(arg);
}

std::string findProgram(const std::string& name) {
    if (name.find('/') != std::string::npos)
        return access(name.c_str(), X_OK) == 0 ? name : std::string();
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        size_t end = dirs.find(':', start);
        std::string dir = dirs.substr(start, end == std::string::npos ? end : end - start);
        std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        if (end == std::string::npos) return std::string();
        start = end + 1;
    }
}

uint64_t suggestedSize(const Inspection& in) {
    // Four times what overflowed; but a snapshot never needs more than its whole origin (and
    // an extent for its own bookkeeping).
    uint64_t cap = roundUp(in.volume.size, in.group.extent) + in.group.extent;
    return std::min(in.allocated * 4, cap);
}

int inspect(const Options& options, const VolumePath& origin, VolumeManager& lvm, Report& report,
            const RunId& self, Inspection* out) {
    out->origin = origin;
    std::vector<std::string> words;
    if (!lvm.group(origin.group, &out->group, &words)) {
        report.fail(kExitVolume, strf("volume group %s could not be read; vgs said:",
                                      origin.group.c_str()),
                    words);
        return kExitVolume;
    }
    std::vector<LogicalVolume> all;
    if (!lvm.volumes(origin.group, &all, &words)) {
        report.fail(kExitVolume, strf("the volumes of %s could not be read; lvs said:",
                                      origin.group.c_str()),
                    words);
        return kExitVolume;
    }
    auto found = std::find_if(all.begin(), all.end(),
                              [&](const LogicalVolume& lv) { return lv.name == origin.name; });
    if (found == all.end()) {
        report.fail(kExitVolume, strf("%s: there is no logical volume %s in volume group %s",
                                      origin.shortName().c_str(), origin.name.c_str(),
                                      origin.group.c_str()));
        return kExitVolume;
    }
    out->volume = *found;
    report.result().set("volume", origin.device());
    if (out->volume.attr.size() > 4 && out->volume.attr[4] != 'a') {
        report.fail(kExitVolume, strf("%s is not active; activate it first: lvchange -ay %s",
                                      origin.shortName().c_str(), origin.shortName().c_str()));
        return kExitVolume;
    }

    out->requested = std::max<uint64_t>(options.size.bytesFor(out->volume.size), 1024);
    out->allocated = roundUp(out->requested, out->group.extent);
    report.result().set("size_requested", options.size.text());
    report.result().set("size_bytes", out->allocated);
    report.result().set("volume_group_free_bytes", out->group.free);
    report.detail(strf("volume %s: %s; volume group %s: %s free, extents of %s",
                       origin.device().c_str(), formatBytes(out->volume.size).c_str(),
                       origin.group.c_str(), formatBytes(out->group.free).c_str(),
                       formatBytes(out->group.extent).c_str()));
    if (out->allocated > out->group.free) {
        std::string text = strf(
            "the snapshot needs %s (--size %s, in whole extents of %s), but volume group %s has "
            "only %s free; nothing was created.",
            formatBytes(out->allocated).c_str(), options.size.text().c_str(),
            formatBytes(out->group.extent).c_str(), origin.group.c_str(),
            formatBytes(out->group.free).c_str());
        uint64_t whole = roundUp(out->volume.size, out->group.extent);
        if (out->requested > out->volume.size)
            text += strf("\nA snapshot never needs more than its volume (%s).",
                         formatBytes(out->volume.size).c_str());
        if (out->requested > out->volume.size && whole <= out->group.free)
            text += strf(" Try --size %s.", sizeOption(whole).c_str());
        else if (out->group.free >= out->group.extent)
            text += strf("\nAt most --size %s fits now; or make room in %s (vgextend, or remove a "
                         "volume that is not needed).",
                         sizeOption(out->group.free).c_str(), origin.group.c_str());
        else
            text += strf("\nMake room in %s first (vgextend, or remove a volume that is not "
                         "needed).", origin.group.c_str());
        report.fail(kExitCreate, text);
        return kExitCreate;
    }
    if (out->volume.isThin())
        report.say(strf("note: %s is a thin volume; the snapshot will be a thick one of %s taken "
                        "from the free space of volume group %s, not a thin snapshot in its pool",
                        origin.shortName().c_str(), formatBytes(out->allocated).c_str(),
                        origin.group.c_str()));
    report.result().set("thin_origin", out->volume.isThin());

    out->snapshots = taggedSnapshots(all, origin.name, self, systemProbe());
    Json leftovers = Json::array();
    int gone = 0;
    for (const TaggedSnapshot& s : out->snapshots) {
        std::string name = s.volume.group + "/" + s.volume.name;
        if (s.state == RunState::Alive) {
            report.detail(strf("%s belongs to a snaphost run still going (%s)", name.c_str(),
                               runWords(s).c_str()));
            continue;
        }
        if (s.state == RunState::OtherHost) {
            report.warn(strf("%s is a snapshot of %s made by snaphost on host %s; whether that "
                             "run is over can only be seen there",
                             name.c_str(), origin.shortName().c_str(), s.run.host.c_str()));
            continue;
        }
        ++gone;
        report.warn(strf("%s is a snapshot of %s left behind by an earlier snaphost run (%s, "
                         "gone); it holds %s of the volume group",
                         name.c_str(), origin.shortName().c_str(), runWords(s).c_str(),
                         formatBytes(s.volume.size).c_str()));
        Json entry = Json::object();
        entry.set("snapshot", "/dev/" + name);
        entry.set("pid", s.run.pid);
        entry.set("size_bytes", s.volume.size);
        leftovers.push(std::move(entry));
    }
    if (gone > 0)
        report.warn(strf("remove such leftovers with: snaphost --sweep %s", origin.group.c_str()));
    report.result().set("leftovers", leftovers);

    const std::string& program = options.command.at(0);
    if (program.find("{}") == std::string::npos && findProgram(program).empty()) {
        report.fail(kExitBackup,
                    strf("the backup command cannot be started: %s: %s; nothing was created",
                         program.c_str(),
                         program.find('/') != std::string::npos ? "no such executable file"
                                                                : "not found on PATH"));
        return kExitBackup;
    }
    return kExitOk;
}

}  // namespace snaphost
