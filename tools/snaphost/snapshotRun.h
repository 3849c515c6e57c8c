// One run of snaphost: the plug-in's stages around the backup command, from loading the
// library to stopping the plug-in, and the sweep of leftovers.
#pragma once

#include <string>

#include "commandLine.h"
#include "inspect.h"

namespace snaphost {

class Report;

// Returns the exit code; every failure has been reported.
int runSnapshot(const Options& options, const VolumePath& origin, Report& report);
int sweepLeftovers(const Options& options, const std::string& group, Report& report);
// --version: the program's version and the library it would load.
int showVersion(const Options& options);

}  // namespace snaphost
