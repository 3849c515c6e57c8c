// snaphost: keeps a point-in-time snapshot of one LVM logical volume for as long as a backup
// command runs, and removes it afterwards.
//
// It is a host of libPiSNP.so in the full sense: it loads the library with dlopen, owns the
// host services object, and drives one snapshot through the plug-in's entry points. The
// library runs lvcreate and lvremove; snaphost checks before, watches during and cleans up
// after, and makes sure that a snapshot it created is removed again, whatever happens.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "backupCommand.h"
#include "commandLine.h"
#include "exitCodes.h"
#include "inspect.h"
#include "report.h"
#include "snapshotRun.h"
#include "text.h"

using namespace snaphost;

namespace {

int usageError(Report& report, const std::string& text, const Options& options) {
    report.fail(kExitUsage, text);
    report.error("Try 'snaphost --help' for more information.");
    if (options.jsonPath) report.writeJson(*options.jsonPath);
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    ParsedCommandLine parsed = parseCommandLine(args);
    Options& options = parsed.options;
    Report report;
    report.setVerbosity(options.verbosity);
    report.setJsonOnStdout(options.jsonPath && *options.jsonPath == "-");
    if (!parsed.error.empty()) return usageError(report, parsed.error, options);
    if (options.action == Options::Action::Help) {
        std::fputs(helpText().c_str(), stdout);
        return kExitOk;
    }
    if (options.action == Options::Action::Version) return showVersion(options);

    std::optional<VolumePath> origin;
    std::optional<std::string> group;
    if (options.action == Options::Action::Sweep) {
        group = parseGroupName(options.sweepGroup);
        if (!group)
            return usageError(report, strf("'%s' is not a volume group: give it as VG or /dev/VG",
                                           options.sweepGroup.c_str()),
                              options);
    } else {
        origin = parseVolumePath(options.volume);
        if (!origin)
            return usageError(report, strf("'%s' is not a logical volume: give it as /dev/VG/LV "
                                           "or VG/LV",
                                           options.volume.c_str()),
                              options);
    }
    if (options.tracePath) {
        std::string error;
        if (!report.openTrace(*options.tracePath, &error)) return usageError(report, error, options);
        SNAPHOST_TRACE(report, "snaphost started: pid %d, arguments: %s", static_cast<int>(getpid()),
                       shellWords(args).c_str());
    }
    catchInterrupts();

    int code = group ? sweepLeftovers(options, *group, report)
                     : runSnapshot(options, *origin, report);
    if (int sig = interruptSignal(); sig != 0) {
        const char* name = strsignal(sig);
        report.error(strf("interrupted by signal %d (%s)", sig, name != nullptr ? name : "?"));
        code = kExitSignalBase + sig;
        report.setExitCode(code);
    }
    SNAPHOST_TRACE(report, "snaphost ends with exit code %d", code);
    if (options.jsonPath) report.writeJson(*options.jsonPath);
    return code;
}
