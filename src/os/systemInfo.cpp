#include "os/systemInfo.h"

namespace {
dsSystemInfo_t gosSystemInfo{};
}

dsSystemInfo_t* dsGetSystemInfo() {
    return &gosSystemInfo;
}
