// Where snaphost looks for the plug-in library and the message catalogs: given on the command
// line or in the environment, else where an installation put them relative to the program,
// else beside the program as in the build tree, else the dynamic loader's search.
#pragma once

#include <string>
#include <vector>

#include "commandLine.h"

namespace snaphost {

std::vector<std::string> libraryCandidates(const Options& options);
// The client directory handed to the plug-in, whose message system looks for
// EN_US/arcclientV3.cat there.
std::string clientDirectory(const Options& options, const std::string& libraryPath);

inline constexpr const char* kCatalogName = "arcclientV3.cat";

}  // namespace snaphost
