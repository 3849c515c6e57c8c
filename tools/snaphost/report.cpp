#include "report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "exitCodes.h"

namespace snaphost {

double monotonicSeconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

Report::Report() : terminal_(isatty(STDERR_FILENO) == 1) {}

Report::~Report() {
    if (trace_ != nullptr && trace_ != stderr) std::fclose(trace_);
}

bool Report::openTrace(const std::string& path, std::string* error) {
    if (path == "-") {
        trace_ = stderr;
        return true;
    }
    // snaphost runs as root: a link planted where the trace goes must not redirect it.
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd == -1 || (trace_ = fdopen(fd, "a")) == nullptr) {
        *error = errno == ELOOP ? strf("the trace file %s is a symbolic link; snaphost does not "
                                       "write through links",
                                       path.c_str())
                                : strf("cannot open the trace file %s: %s", path.c_str(),
                                       std::strerror(errno));
        if (fd != -1) close(fd);
        return false;
    }
    return true;
}

void Report::traceAt(const char* file, int line, const std::string& text) {
    if (trace_ == nullptr) return;
    int savedErrno = errno;
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    tm local;
    localtime_r(&now.tv_sec, &local);
    const char* slash = std::strrchr(file, '/');
    std::fprintf(trace_, "%02d:%02d:%02d.%03ld %s:%d %s%s", local.tm_hour, local.tm_min,
                 local.tm_sec, now.tv_nsec / 1000000, slash != nullptr ? slash + 1 : file, line,
                 text.c_str(), !text.empty() && text.back() == '\n' ? "" : "\n");
    std::fflush(trace_);
    errno = savedErrno;
}

void Report::line(const std::string& prefix, const std::string& text) {
    endProgress();
    // Every line carries the program's name, so that a log shows where it came from.
    std::vector<std::string> parts = lines(text);
    if (parts.empty()) parts.emplace_back();
    for (const std::string& part : parts)
        std::fprintf(stderr, "snaphost: %s%s\n", prefix.c_str(), part.c_str());
    std::fflush(stderr);
}

void Report::detail(const std::string& text) {
    SNAPHOST_TRACE(*this, "%s", text.c_str());
    if (verbosity_ >= kVerbose) line("", text);
}

void Report::say(const std::string& text) {
    SNAPHOST_TRACE(*this, "%s", text.c_str());
    if (verbosity_ >= kNormal) line("", text);
}

void Report::warn(const std::string& text) {
    SNAPHOST_TRACE(*this, "warning: %s", text.c_str());
    if (verbosity_ >= kNormal) line("warning: ", text);
}

void Report::error(const std::string& text) {
    SNAPHOST_TRACE(*this, "error: %s", text.c_str());
    line("", text);
}

void Report::plan(const std::string& text) {
    endProgress();
    std::fprintf(jsonOnStdout_ ? stderr : stdout, "%s\n", text.c_str());
    std::fflush(jsonOnStdout_ ? stderr : stdout);
}

void Report::progress(const std::string& text) {
    SNAPHOST_TRACE(*this, "%s", text.c_str());
    if (verbosity_ < kNormal) return;
    if (!terminal_) {
        line("", text);
        return;
    }
    std::fprintf(stderr, "\r\033[Ksnaphost: %s", text.c_str());
    std::fflush(stderr);
    progressShown_ = true;
}

void Report::endProgress() {
    if (!progressShown_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    progressShown_ = false;
}

void Report::beginStage(const char* key) {
    endStage();
    stage_ = key;
    stageFailed_ = false;
    stageStart_ = monotonicSeconds();
    SNAPHOST_TRACE(*this, "stage: %s", key);
}

void Report::endStage() {
    if (!stage_.empty()) closeStage();
}

void Report::closeStage() {
    Json entry = Json::object();
    entry.set("stage", stage_);
    entry.set("seconds", static_cast<double>(
                             static_cast<long>((monotonicSeconds() - stageStart_) * 1000)) /
                             1000);
    entry.set("ok", !stageFailed_);
    stages_.push(std::move(entry));
    stage_.clear();
}

void Report::fail(int code, const std::string& text, const std::vector<std::string>& words) {
    SNAPHOST_TRACE(*this, "failure, exit code %d: %s", code, text.c_str());
    line("", text);
    std::string full = text;
    for (const std::string& word : words) {
        line("  ", word);
        full += "\n" + word;
    }
    stageFailed_ = true;
    if (exitCode_ == kExitOk) {
        exitCode_ = code;
        errorText_ = full;
    }
}

void Report::failAbove(int code, const std::string& text) {
    SNAPHOST_TRACE(*this, "failure, exit code %d: %s", code, text.c_str());
    line("", text);
    exitCode_ = code;
    errorText_ = text;
}

bool Report::writeJson(const std::string& path) {
    endStage();
    result_.set("stages", stages_);
    result_.set("exit_code", exitCode_);
    result_.set("error", errorText_.empty() ? Json() : Json(errorText_));
    std::string text = result_.dump() + "\n";
    FILE* out = stdout;
    if (path != "-") {
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
        out = fd == -1 ? nullptr : fdopen(fd, "w");
        if (out == nullptr) {
            error(strf("cannot write the result to %s: %s", path.c_str(), std::strerror(errno)));
            if (fd != -1) close(fd);
            return false;
        }
    }
    bool ok = std::fputs(text.c_str(), out) >= 0;
    ok = (out == stdout ? std::fflush(out) : std::fclose(out)) == 0 && ok;
    return ok;
}

}  // namespace snaphost
