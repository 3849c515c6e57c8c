// The filling of the system record, apart from its once-only guard, so that a test can fill a
// record of its own against a root it prepared.
#pragma once

#include "pisnp/systemInfo.h"

namespace pisnp::os {

// Sets every field that the first dsGetSystemInfo sets; leaves the arguments and the executable
// directory alone.
void fillSystemInfo(dsSystemInfo_t* info);

}  // namespace pisnp::os
