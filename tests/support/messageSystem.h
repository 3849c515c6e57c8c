// The message system for tests that format catalog messages: started once per test program on
// the catalogs the build made.
#pragma once

#include <string>

namespace pisnp_test {

// The directory that holds the built catalogs (<dir>/EN_US/arcclientV3.cat): ARC_DIR when set,
// else the build tree that ctest names in PISNP_BUILD_DIR.
std::string catalogDir();

// Starts the message system on the built catalogs, once; true when it runs. Its caches hold a
// few records from then on: tests that count live blocks warm them first.
bool startMessages();

}  // namespace pisnp_test
