#include "ownership.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "text.h"

namespace snaphost {

namespace {

constexpr const char* kTagPrefix = "snaphost-run:";

// The characters the volume manager allows in a tag; anything else becomes '_'.
std::string tagSafe(std::string text) {
    for (char& c : text) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  std::string_view("_+.-/=!&#").find(c) != std::string_view::npos;
        if (!ok) c = '_';
    }
    return text.empty() ? "_" : text;
}

std::string firstLine(const char* path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return trim(line);
}

// A decimal number that fits in 64 bits.
bool digitsOnly(const std::string& s) {
    if (s.empty() || s.size() > 20 || s.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    std::strtoull(s.c_str(), nullptr, 10);
    return errno == 0;
}

}  // namespace

std::optional<unsigned long long> processStartTime(long pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!std::getline(in, stat)) return std::nullopt;
    // The command name in parentheses may hold blanks and parentheses itself.
    size_t close = stat.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    // After the name: state is field 3; the start time is field 22.
    for (int n = 3; n <= 22; ++n)
        if (!(fields >> field)) return std::nullopt;
    if (!digitsOnly(field)) return std::nullopt;
    return std::strtoull(field.c_str(), nullptr, 10);
}

RunId thisRun() {
    RunId run;
    char host[256] = "";
    gethostname(host, sizeof host - 1);
    run.host = tagSafe(host);
    run.boot = tagSafe(firstLine("/proc/sys/kernel/random/boot_id"));
    run.pid = static_cast<long>(getpid());
    run.start = processStartTime(run.pid).value_or(0);
    return run;
}

std::string tagOf(const RunId& run) {
    return strf("%shost=%s:boot=%s:pid=%ld:start=%llu", kTagPrefix, run.host.c_str(),
                run.boot.c_str(), run.pid, run.start);
}

std::optional<RunId> runOf(const std::vector<std::string>& tags) {
    for (const std::string& tag : tags) {
        if (!tag.starts_with(kTagPrefix)) continue;
        RunId run;
        bool host = false, boot = false, pid = false, start = false;
        std::string rest = tag.substr(std::string_view(kTagPrefix).size());
        std::istringstream parts(rest);
        std::string part;
        while (std::getline(parts, part, ':')) {
            size_t eq = part.find('=');
            if (eq == std::string::npos) continue;
            std::string key = part.substr(0, eq), value = part.substr(eq + 1);
            if (key == "host") {
                run.host = value;
                host = true;
            } else if (key == "boot") {
                run.boot = value;
                boot = true;
            } else if (key == "pid" && digitsOnly(value)) {
                run.pid = std::strtol(value.c_str(), nullptr, 10);
                pid = run.pid > 0;
            } else if (key == "start" && digitsOnly(value)) {
                run.start = std::strtoull(value.c_str(), nullptr, 10);
                start = true;
            }
        }
        if (host && boot && pid && start) return run;
    }
    return std::nullopt;
}

RunState stateOf(const RunId& run, const RunId& self, const StartTimeProbe& probe) {
    // A run on another host cannot be checked from here, least of all its process.
    if (run.host != self.host) return RunState::OtherHost;
    if (run.boot != self.boot) return RunState::Gone;
    std::optional<unsigned long long> start = probe(run.pid);
    return start && *start == run.start ? RunState::Alive : RunState::Gone;
}

std::vector<TaggedSnapshot> taggedSnapshots(const std::vector<LogicalVolume>& volumes,
                                            const std::string& origin, const RunId& self,
                                            const StartTimeProbe& probe) {
    std::vector<TaggedSnapshot> out;
    for (const LogicalVolume& lv : volumes) {
        if (!lv.isSnapshot() || lv.origin.empty()) continue;
        if (!origin.empty() && lv.origin != origin) continue;
        std::optional<RunId> run = runOf(lv.tags);
        if (!run) continue;
        out.push_back({lv, *run, stateOf(*run, self, probe)});
    }
    return out;
}

}  // namespace snaphost
