#include "ownership.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
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
    char ns[PATH_MAX] = "";
    ssize_t n = readlink("/proc/self/ns/pid", ns, sizeof ns - 1);
    // "pid:[4026531836]": the number names the namespace.
    std::string link(ns, n > 0 ? static_cast<size_t>(n) : 0);
    size_t open = link.find('['), close = link.find(']');
    run.ns = open != std::string::npos && close > open ? link.substr(open + 1, close - open - 1)
                                                       : std::string("_");
    run.pid = static_cast<long>(getpid());
    run.start = processStartTime(run.pid).value_or(0);
    return run;
}

std::string tagOf(const RunId& run) {
    return strf("%shost=%s:boot=%s:ns=%s:pid=%ld:start=%llu", kTagPrefix, run.host.c_str(),
                run.boot.c_str(), tagSafe(run.ns).c_str(), run.pid, run.start);
}

std::optional<RunId> runOf(const std::vector<std::string>& tags) {
    for (const std::string& tag : tags) {
        if (!tag.starts_with(kTagPrefix)) continue;
        RunId run;
        bool host = false, boot = false, ns = false, pid = false, start = false;
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
            } else if (key == "ns") {
                run.ns = value;
                ns = true;
            } else if (key == "pid" && digitsOnly(value)) {
                run.pid = std::strtol(value.c_str(), nullptr, 10);
                pid = run.pid > 0;
            } else if (key == "start" && digitsOnly(value)) {
                run.start = std::strtoull(value.c_str(), nullptr, 10);
                start = true;
            }
        }
        if (host && boot && ns && pid && start) return run;
    }
    return std::nullopt;
}

std::string lockDirectory() {
    const char* dir = "/run/snaphost";
    mkdir(dir, 0700);
    struct stat st;
    if (lstat(dir, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() ||
        (st.st_mode & 022) != 0)
        return std::string();
    return dir;
}

namespace {
std::string runLockPath(const std::string& dir, const RunId& run) {
    return strf("%s/run-%ld-%llu.lock", dir.c_str(), run.pid, run.start);
}
}  // namespace

RunLock::~RunLock() {
    release();
}

bool RunLock::acquire(const RunId& run) {
    std::string dir = lockDirectory();
    if (dir.empty()) return false;
    path_ = runLockPath(dir, run);
    fd_ = open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ == -1 || flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        release();
        return false;
    }
    return true;
}

void RunLock::release() {
    if (fd_ != -1) {
        unlink(path_.c_str());
        close(fd_);
    }
    fd_ = -1;
}

void forgetRun(const RunId& run) {
    std::string dir = lockDirectory();
    if (!dir.empty()) unlink(runLockPath(dir, run).c_str());
}

RunProbe systemProbe() {
    RunProbe probe;
    probe.lock = [](const RunId& run) {
        std::string dir = lockDirectory();
        if (dir.empty()) return LockState::Absent;
        int fd = open(runLockPath(dir, run).c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
        if (fd == -1) return LockState::Absent;
        LockState state = flock(fd, LOCK_EX | LOCK_NB) == 0 ? LockState::Free : LockState::Held;
        close(fd);
        return state;
    };
    probe.startTime = processStartTime;
    return probe;
}

RunState stateOf(const RunId& run, const RunId& self, const RunProbe& probe) {
    // A run on another host cannot be checked from here, least of all its process; nor can a
    // process number of another PID namespace.
    if (run.host != self.host) return RunState::OtherHost;
    if (run.boot != self.boot) return RunState::Gone;
    if (run.ns != self.ns) return RunState::OtherHost;
    switch (probe.lock(run)) {
        case LockState::Held: return RunState::Alive;
        case LockState::Free: return RunState::Gone;
        case LockState::Absent: break;
    }
    std::optional<unsigned long long> start = probe.startTime(run.pid);
    return start && *start == run.start ? RunState::Alive : RunState::Gone;
}

std::vector<TaggedSnapshot> taggedSnapshots(const std::vector<LogicalVolume>& volumes,
                                            const std::string& origin, const RunId& self,
                                            const RunProbe& probe) {
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
