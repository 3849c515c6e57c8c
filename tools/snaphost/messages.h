// snaphost's texts for the plug-in's catalog messages. The library reports a failed volume
// manager command by number with inserts; the host owns the text. Until snaphost reads its
// texts from the message catalogs, they are written here, in one place.
#pragma once

#include <string>
#include <vector>

#include "pluginMessages.h"

namespace snaphost {

struct Explanation {
    std::string program;             // "lvcreate", "lvremove", or empty for an unknown message
    std::vector<std::string> words;  // what it said, one line each, as it said it
    std::string internal;            // the numbers behind it, shown only with -v
};

Explanation explain(const hostkit::PluginMessage& message);

}  // namespace snaphost
