#include "messages.h"

#include "text.h"

namespace snaphost {

Explanation explain(const hostkit::PluginMessage& message) {
    Explanation out;
    if (!message.known) {
        out.words.push_back(
            strf("the plug-in reported message %d, whose text this snaphost does not have",
                 message.number));
        return out;
    }
    out.program = message.number == hostkit::kMsgCreateFailed ? "lvcreate" : "lvremove";
    for (const std::string& line : lines(message.errorText))
        if (!trim(line).empty()) out.words.push_back(trim(line));
    out.internal = strf("plug-in message %d, %s exit status %d, reported at %s:%d", message.number,
                        out.program.c_str(), message.commandRc, message.file.c_str(),
                        message.line);
    return out;
}

}  // namespace snaphost
