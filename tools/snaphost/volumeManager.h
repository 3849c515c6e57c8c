// The volume manager's commands that snaphost runs itself (the plug-in runs lvcreate and
// lvremove for the snapshot it makes): reports of volume groups and volumes, tags, and the
// removal of leftovers. Commands run directly, never through a shell, in the C locale.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace snaphost {

class Report;

struct CommandResult {
    bool started = false;
    int status = -1;  // exit status; -1 when it did not exit normally
    bool timedOut = false;
    std::string out;
    std::string err;
    std::string startError;
    bool ok() const { return started && status == 0 && !timedOut; }
    // What went wrong, in the command's own words where it gave any.
    std::vector<std::string> words() const;
};

struct LogicalVolume {
    std::string group;
    std::string name;
    uint64_t size = 0;
    std::string attr;
    std::string origin;  // the origin's name when this is a snapshot
    std::optional<double> dataPercent;
    std::vector<std::string> tags;

    bool isSnapshot() const { return !attr.empty() && (attr[0] == 's' || attr[0] == 'S'); }
    bool isThin() const { return !attr.empty() && attr[0] == 'V'; }
    // The kernel gave up on it: it ran out of room for the origin's old data.
    bool isInvalid() const { return attr.size() > 4 && (attr[4] == 'I' || attr[4] == 'S'); }
    bool isOpen() const { return attr.size() > 5 && attr[5] == 'o'; }
};

struct VolumeGroup {
    std::string name;
    uint64_t size = 0;
    uint64_t free = 0;
    uint64_t extent = 0;
};

// The fields snaphost asks for, in this order, and the parsers of the reports they give.
inline constexpr const char* kVolumeFields = "vg_name,lv_name,lv_size,lv_attr,origin,data_percent,lv_tags";
inline constexpr const char* kGroupFields = "vg_name,vg_size,vg_free,vg_extent_size";
// Lines that do not have the fields asked for are skipped.
std::vector<LogicalVolume> parseVolumeReport(std::string_view text);
std::optional<VolumeGroup> parseGroupReport(std::string_view text);

class VolumeManager {
  public:
    explicit VolumeManager(Report& report) : report_(report) {}

    // Where the command is: /sbin, /usr/sbin or PATH, as the plug-in looks; empty when nowhere.
    static std::string find(const std::string& program);
    // The command as it would run, program path resolved, for showing.
    static std::vector<std::string> resolved(std::vector<std::string> argv);
    CommandResult run(std::vector<std::string> argv, double timeoutSeconds = 120);

    // Each returns false with the volume manager's words in *words when it fails.
    bool group(const std::string& vg, VolumeGroup* out, std::vector<std::string>* words);
    // target: a volume group (all its volumes) or VG/LV.
    bool volumes(const std::string& target, std::vector<LogicalVolume>* out,
                 std::vector<std::string>* words);
    bool addTag(const std::string& vg, const std::string& lv, const std::string& tag,
                std::vector<std::string>* words);
    bool remove(const std::string& vg, const std::string& lv, std::vector<std::string>* words);

  private:
    Report& report_;
};

}  // namespace snaphost
