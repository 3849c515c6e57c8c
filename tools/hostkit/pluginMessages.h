// The plug-in's catalog messages whose texts a host supplies, with their inserts decoded.
//
// The library passes a message's inserts as variable arguments whose types only the message's
// definition tells; a host that reads them with the wrong types reads garbage or crashes. So
// every host of this project decodes them here, from one table.
#pragma once

#include <cstdarg>
#include <string>

#include "pisnp/resultCodes.h"

namespace hostkit {

inline constexpr int kMsgCreateFailed = MSG_SNAP_CREATE_FAILED;
inline constexpr int kMsgRemoveFailed = MSG_SNAP_REMOVE_FAILED;

struct PluginMessage {
    int number = 0;
    bool known = false;  // false: a number without a layout here; its inserts were not read
    std::string command;
    std::string where;
    std::string errorText;
    int commandRc = 0;
    std::string file;
    int line = 0;
};

// Reads the inserts of message `number` from `args` (the arguments after the number).
PluginMessage decodeMessage(int number, va_list args);

}  // namespace hostkit
