// snaphost's command line: options anywhere before "--", VOLUME, then COMMAND. Every mistake is
// found here, before anything is looked at or created.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sizes.h"

namespace snaphost {

struct Options {
    enum class Action { Run, Sweep, Help, Version };
    Action action = Action::Run;
    std::string volume;       // VOLUME as given
    std::string sweepGroup;   // --sweep's volume group as given
    SizeRequest size;         // default: 10 % of the origin
    std::optional<std::string> pre;
    std::optional<std::string> post;
    std::optional<std::string> tracePath;
    std::optional<std::string> jsonPath;  // "-": standard output
    std::optional<std::string> libraryPath;
    std::optional<std::string> clientDir;
    int verbosity = 1;  // 0 -q, 1 normal, 2 and more -v
    bool dryRun = false;
    std::vector<std::string> command;
};

struct ParsedCommandLine {
    Options options;
    std::string error;  // empty when the command line is good
};

// args: the arguments after the program's name.
ParsedCommandLine parseCommandLine(const std::vector<std::string>& args);

std::string helpText();

}  // namespace snaphost
