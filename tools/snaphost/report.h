// What snaphost tells: lines on standard error by verbosity, the trace file, the stages with
// their durations, the first failure with its exit code, and the result object of --json.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "json.h"
#include "text.h"

namespace snaphost {

class Report {
  public:
    enum Verbosity { kQuiet = 0, kNormal = 1, kVerbose = 2, kDebug = 3 };

    Report();
    ~Report();
    Report(const Report&) = delete;
    Report& operator=(const Report&) = delete;

    void setVerbosity(int level) { verbosity_ = level; }
    int verbosity() const { return verbosity_; }
    // Appends to path (never through a symbolic link), or writes to standard error for "-".
    bool openTrace(const std::string& path, std::string* error);
    bool tracing() const { return trace_ != nullptr; }
    void traceAt(const char* file, int line, const std::string& text);

    void detail(const std::string& text);  // with -v
    void say(const std::string& text);     // unless -q
    void warn(const std::string& text);    // unless -q
    void error(const std::string& text);   // always
    // Lines meant for standard output (a dry run's plan), or for standard error when the JSON
    // result takes standard output.
    void plan(const std::string& text);
    void setJsonOnStdout(bool on) { jsonOnStdout_ = on; }

    // On a terminal, one line redrawn in place; elsewhere a plain line each call.
    void progress(const std::string& text);
    void endProgress();
    bool progressOnTerminal() const { return terminal_ && verbosity_ >= kNormal; }

    // A stage: its key names it in the result object; its failure counts as its exit code.
    void beginStage(const char* key);
    void endStage();
    // The stage failed, though what failed is reported later.
    void stageFailed() { stageFailed_ = true; }
    // Reports a failure with the volume manager's words that explain it, and keeps the first
    // failure's exit code and text.
    void fail(int code, const std::string& text, const std::vector<std::string>& words = {});
    // A failure that explains the ones before it (an overflow behind a failed backup): its
    // code and text replace theirs. It belongs to an earlier stage, not the current one.
    void failAbove(int code, const std::string& text);
    int exitCode() const { return exitCode_; }
    void setExitCode(int code) { exitCode_ = code; }

    Json& result() { return result_; }
    // Completes the result object with the exit code, error and stages, and writes it.
    bool writeJson(const std::string& path);

  private:
    void line(const std::string& prefix, const std::string& text);
    void closeStage();

    int verbosity_ = kNormal;
    FILE* trace_ = nullptr;
    bool terminal_ = false;
    bool progressShown_ = false;
    bool jsonOnStdout_ = false;
    int exitCode_ = 0;
    std::string errorText_;
    std::string stage_;
    bool stageFailed_ = false;
    double stageStart_ = 0;
    Json stages_ = Json::array();
    Json result_ = Json::object();
};

double monotonicSeconds();

}  // namespace snaphost

// Only formats when a trace is being written.
#define SNAPHOST_TRACE(report, ...)                                                       \
    do {                                                                                  \
        if ((report).tracing())                                                           \
            (report).traceAt(__FILE__, __LINE__, ::snaphost::strf(__VA_ARGS__));          \
    } while (0)
