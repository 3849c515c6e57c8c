#include "support/messageSystem.h"

#include <cstdlib>
#include <string>

#include "pisnp/messages.h"

namespace pisnp_test {

std::string catalogDir() {
    // ARC_DIR names them; ctest names the build tree, where they lie.
    const char* dir = std::getenv("ARC_DIR");
    if (dir != nullptr && *dir != '\0') return dir;
    const char* build = std::getenv("PISNP_BUILD_DIR");
    return build != nullptr ? build : ".";
}

bool startMessages() {
    static const bool started = [] {
        newNlsGlobalObject(nullptr, 1);
        std::string dir = catalogDir();
        char repository[] = "arcclientV3.cat";
        nlsReturnInfo_t info;
        if (nlinit(repository, 10, dir.data(), ctCLBackup, 0, 0, 0, &info, nullptr) != 0)
            return false;
        // The record of the message in front of every diagnostic line, cached before any test
        // counts live blocks.
        return nlGetMsgSev(361) == nlsSevInfo;
    }();
    return started;
}

}  // namespace pisnp_test
