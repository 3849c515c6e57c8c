// Test-only seam of the memory pools. Not exported from libPiSNP.so.
//
// Most requests are carved from the pool's newest block without searching, where the search
// would choose that block anyway. A test turns the shortcut off to compare it with the search.
#pragma once

namespace pisnp::mem::testing {

// Turns the shortcut on or off; returns the previous setting.
bool setPoolShortcut(bool on);

}  // namespace pisnp::mem::testing
