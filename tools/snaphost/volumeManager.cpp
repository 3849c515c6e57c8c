#include "volumeManager.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "report.h"
#include "text.h"

extern char** environ;

namespace snaphost {

namespace {

std::vector<std::string> split(const std::string& line, char sep) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t end = line.find(sep, start);
        out.push_back(line.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) return out;
        start = end + 1;
    }
}

std::optional<uint64_t> number(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 19)
        return std::nullopt;
    return std::strtoull(text.c_str(), nullptr, 10);
}

// The report's lines, each split into fields; lines without `count` fields are left out.
std::vector<std::vector<std::string>> rows(std::string_view text, size_t count) {
    std::vector<std::vector<std::string>> out;
    for (const std::string& line : lines(text)) {
        std::vector<std::string> fields = split(trim(line), '|');
        if (fields.size() == count) out.push_back(std::move(fields));
    }
    return out;
}

// The reports are read in the C locale, whatever the user's: a decimal point, English words.
std::vector<std::string> environment() {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string_view entry(*e);
        if (entry.starts_with("LC_ALL=") || entry.starts_with("LVM_SUPPRESS_FD_WARNINGS="))
            continue;
        env.emplace_back(entry);
    }
    env.emplace_back("LC_ALL=C");
    // The host's descriptors are closed on exec; lvm need not warn about the trace file.
    env.emplace_back("LVM_SUPPRESS_FD_WARNINGS=1");
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& words) {
    std::vector<char*> out;
    for (std::string& w : words) out.push_back(w.data());
    out.push_back(nullptr);
    return out;
}

}  // namespace

std::vector<std::string> CommandResult::words() const {
    if (!started) return {startError};
    std::vector<std::string> out;
    for (const std::string& line : lines(err))
        if (!trim(line).empty()) out.push_back(trim(line));
    if (timedOut) out.emplace_back("(it did not finish in time and was stopped)");
    if (out.empty()) out.push_back(strf("(no error text; exit status %d)", status));
    return out;
}

std::vector<LogicalVolume> parseVolumeReport(std::string_view text) {
    std::vector<LogicalVolume> out;
    for (std::vector<std::string>& f : rows(text, 7)) {
        std::optional<uint64_t> size = number(f[2]);
        if (f[0].empty() || f[1].empty() || !size) continue;
        LogicalVolume lv;
        lv.group = f[0];
        lv.name = f[1];
        lv.size = *size;
        lv.attr = f[3];
        lv.origin = f[4];
        if (!f[5].empty()) {
            char* end = nullptr;
            double percent = std::strtod(f[5].c_str(), &end);
            if (end != f[5].c_str() && *end == '\0') lv.dataPercent = percent;
        }
        if (!f[6].empty()) lv.tags = split(f[6], ',');
        out.push_back(std::move(lv));
    }
    return out;
}

std::optional<VolumeGroup> parseGroupReport(std::string_view text) {
    for (std::vector<std::string>& f : rows(text, 4)) {
        std::optional<uint64_t> size = number(f[1]), free = number(f[2]), extent = number(f[3]);
        if (f[0].empty() || !size || !free || !extent) continue;
        return VolumeGroup{f[0], *size, *free, *extent};
    }
    return std::nullopt;
}

std::string VolumeManager::find(const std::string& program) {
    for (const char* dir : {"/sbin/", "/usr/sbin/"}) {
        std::string path = dir + program;
        if (access(path.c_str(), X_OK) == 0) return path;
    }
    const char* pathVar = std::getenv("PATH");
    for (const std::string& dir : split(pathVar != nullptr ? pathVar : "", ':')) {
        if (dir.empty()) continue;
        std::string path = dir + "/" + program;
        if (access(path.c_str(), X_OK) == 0) return path;
    }
    return std::string();
}

std::vector<std::string> VolumeManager::resolved(std::vector<std::string> argv) {
    std::string path = find(argv[0]);
    if (!path.empty()) argv[0] = path;
    return argv;
}

CommandResult VolumeManager::run(std::vector<std::string> argv, double timeoutSeconds) {
    CommandResult result;
    std::string path = find(argv[0]);
    SNAPHOST_TRACE(report_, "running: %s", shellWords(resolved(argv)).c_str());
    if (path.empty()) {
        result.startError = strf("%s: not found in /sbin, /usr/sbin or PATH (is lvm2 installed?)",
                                 argv[0].c_str());
        SNAPHOST_TRACE(report_, "%s", result.startError.c_str());
        return result;
    }
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        result.startError = strf("%s: %s", argv[0].c_str(), std::strerror(errno));
        return result;
    }
    if (pipe2(err, O_CLOEXEC) != 0) {
        result.startError = strf("%s: %s", argv[0].c_str(), std::strerror(errno));
        close(out[0]);
        close(out[1]);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    // snaphost blocks and catches signals while it waits; the command starts afresh.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGCHLD, SIGTTOU})
        sigaddset(&defaults, sig);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::vector<std::string> env = environment();
    std::vector<char*> argvp = pointers(argv), envp = pointers(env);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, path.c_str(), &actions, &attr, argvp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(out[1]);
    close(err[1]);
    if (rc != 0) {
        result.startError = strf("%s: %s", path.c_str(), std::strerror(rc));
        close(out[0]);
        close(err[0]);
        return result;
    }
    result.started = true;

    double deadline = monotonicSeconds() + timeoutSeconds;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int openPipes = 2;
    while (openPipes > 0) {
        double left = deadline - monotonicSeconds();
        if (left <= 0) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        int n = poll(fds, 2, static_cast<int>(left * 1000) + 1);
        if (n < 0 && errno != EINTR) break;
        for (int k = 0; k < 2 && n > 0; ++k) {
            if (fds[k].fd < 0 || fds[k].revents == 0) continue;
            char buf[4096];
            ssize_t got = read(fds[k].fd, buf, sizeof buf);
            if (got > 0) {
                sinks[k]->append(buf, static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                close(fds[k].fd);
                fds[k].fd = -1;
                --openPipes;
            }
        }
    }
    for (pollfd& fd : fds)
        if (fd.fd >= 0) close(fd.fd);
    int status = 0;
    while (waitpid(pid, &status, 0) == -1 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    SNAPHOST_TRACE(report_, "%s ended: status %d%s; error text: %s", argv[0].c_str(),
                   result.status, result.timedOut ? " (stopped: too slow)" : "",
                   trim(result.err).c_str());
    return result;
}

bool VolumeManager::group(const std::string& vg, VolumeGroup* out,
                          std::vector<std::string>* words) {
    CommandResult r = run({"vgs", "--noheadings", "--nosuffix", "--units", "b", "--separator",
                           "|", "-o", kGroupFields, vg});
    std::optional<VolumeGroup> parsed = r.ok() ? parseGroupReport(r.out) : std::nullopt;
    if (!parsed) {
        *words = r.ok() ? std::vector<std::string>{"(vgs gave no report of " + vg + ")"}
                        : r.words();
        return false;
    }
    *out = *parsed;
    return true;
}

bool VolumeManager::volumes(const std::string& target, std::vector<LogicalVolume>* out,
                            std::vector<std::string>* words) {
    CommandResult r = run({"lvs", "--noheadings", "--nosuffix", "--units", "b", "--separator",
                           "|", "-o", kVolumeFields, target});
    if (!r.ok()) {
        *words = r.words();
        return false;
    }
    *out = parseVolumeReport(r.out);
    return true;
}

bool VolumeManager::addTag(const std::string& vg, const std::string& lv, const std::string& tag,
                           std::vector<std::string>* words) {
    CommandResult r = run({"lvchange", "--addtag", tag, vg + "/" + lv});
    if (!r.ok()) *words = r.words();
    return r.ok();
}

bool VolumeManager::remove(const std::string& vg, const std::string& lv,
                           std::vector<std::string>* words) {
    CommandResult r = run({"lvremove", "-f", vg + "/" + lv});
    if (!r.ok()) *words = r.words();
    return r.ok();
}

}  // namespace snaphost
