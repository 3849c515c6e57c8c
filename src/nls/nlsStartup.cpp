// STAND-IN for the message system's start-up: see nlsStartup.h.
#include "pisnp/messages.h"
#include "pisnp/resultCodes.h"

#include <cstring>

namespace {
// The object lives for the whole process; hosts and the plug-in entry share it.
nlsObject_t gNlsObject;
}  // namespace

nlsObject_t* newNlsGlobalObject(void (**)(char*), int) {
    std::memset(&gNlsObject, 0, sizeof gNlsObject);
    return &gNlsObject;
}

int nlinit(char* reposName, int, char*, cliType_t clientType, unsigned int dateFmt,
           unsigned int timeFmt, unsigned int numberFmt, nlsReturnInfo_t* retInfo, char*) {
    if (reposName == nullptr || *reposName == '\0') return PISNP_RC_MSG_SYS_START_FAILED;
    if (std::strlen(reposName) >= static_cast<size_t>(kNlsReposNameMax))
        return PISNP_RC_MSG_SYS_START_FAILED;
    if (retInfo != nullptr) {
        std::strcpy(retInfo->name, reposName);
        retInfo->dateFmt = dateFmt;
        retInfo->timeFmt = timeFmt;
        retInfo->numberFmt = numberFmt;
    }
    gNlsObject.clientType = clientType;
    gNlsObject.initialised = 1;
    gNlsObject.consoleTimeStamp = 0;
    return 0;
}

int nlterm() {
    gNlsObject.initialised = 0;
    return 0;
}
