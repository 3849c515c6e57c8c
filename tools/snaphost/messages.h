// snaphost's texts for the plug-in's catalog messages. The library reports a failed volume
// manager command by number with inserts; the host owns the text. snaphost says what failed in
// words of its own and quotes the volume manager; the catalog's text, which carries the return
// code and the place in the library, is added with -v.
#pragma once

#include <string>
#include <vector>

#include "pluginMessages.h"

namespace snaphost {

struct Explanation {
    std::string program;             // "lvcreate", "lvremove", or empty for an unknown message
    std::vector<std::string> words;  // what it said, one line each, as it said it
    std::string internal;            // the numbers behind it, shown only with -v
    std::vector<std::string> catalog;  // the catalog's text with its inserts, when there is one
};

// clientDir: where the catalogs are (LANGUAGE/arcclientV3.cat).
Explanation explain(const hostkit::PluginMessage& message, const std::string& clientDir);

// The catalog's text of the message with its inserts ("ANS5250E The snapshot could not ..."),
// in the user's language when there is a catalog for it, else in English. Empty when there is
// no catalog or no such message, or when its body is not one whose conversions match the
// message's inserts exactly: a catalog is read from disk, and a wrong one must not make the
// formatting read arguments that are not there.
std::string catalogText(const hostkit::PluginMessage& message, const std::string& clientDir);

}  // namespace snaphost
