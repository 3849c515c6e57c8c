#include "messages.h"

#include <nl_types.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "text.h"

namespace snaphost {

namespace {

constexpr int kMessageSet = 1;
// A body that keeps the caller's order of inserts is this byte, then a printf format.
constexpr char kPrintfBody = '\x01';

// The language directories to look in: the user's (LANG de_DE.UTF-8 -> DE_DE), then English.
std::vector<std::string> languages() {
    std::vector<std::string> out;
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(var);
        if (value == nullptr || *value == '\0') continue;
        std::string lang(value, std::string(value).find_first_of(".@") == std::string::npos
                                    ? std::string(value).size()
                                    : std::string(value).find_first_of(".@"));
        if (lang.size() == 5 && lang[2] == '_') {
            for (char& c : lang) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            out.push_back(lang);
        }
        break;
    }
    if (out.empty() || out.front() != "EN_US") out.emplace_back("EN_US");
    return out;
}

// The conversions of a printf format in order ("ssdsd"), or "?" for one this host does not
// fill (a width from an argument, a position, a length modifier, %n).
std::string conversions(const std::string& format) {
    std::string out;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') continue;
        char c = i + 1 < format.size() ? format[++i] : '\0';
        if (c == '%') continue;
        out += c == 's' || c == 'd' ? c : '?';
    }
    return out;
}

std::string fill(const std::string& format, const hostkit::PluginMessage& m) {
    bool remove = m.number == hostkit::kMsgRemoveFailed;
    if (conversions(format) != (remove ? "sssdsd" : "ssdsd")) return std::string();
    const char* f = format.c_str();
    // The format was checked against the message's inserts just above.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    if (remove)
        return strf(f, m.command.c_str(), m.where.c_str(), m.errorText.c_str(), m.commandRc,
                    m.file.c_str(), m.line);
    return strf(f, m.where.c_str(), m.errorText.c_str(), m.commandRc, m.file.c_str(), m.line);
#pragma GCC diagnostic pop
}

}  // namespace

std::string catalogText(const hostkit::PluginMessage& message, const std::string& clientDir) {
    if (!message.known || clientDir.empty()) return std::string();
    for (const std::string& lang : languages()) {
        std::string path = clientDir + "/" + lang + "/arcclientV3.cat";
        nl_catd catalog = catopen(path.c_str(), 0);
        if (catalog == reinterpret_cast<nl_catd>(-1)) continue;
        std::string entry = catgets(catalog, kMessageSet, message.number, "");
        catclose(catalog);
        // "ANS5250E <body>": the identifier, a blank, the body.
        size_t blank = entry.find(' ');
        if (blank == std::string::npos || blank + 1 >= entry.size() ||
            entry[blank + 1] != kPrintfBody)
            continue;
        std::string text = fill(entry.substr(blank + 2), message);
        if (!text.empty()) return entry.substr(0, blank + 1) + text;
    }
    return std::string();
}

Explanation explain(const hostkit::PluginMessage& message, const std::string& clientDir) {
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
    for (const std::string& line : lines(catalogText(message, clientDir)))
        if (!trim(line).empty()) out.catalog.push_back(trim(line));
    return out;
}

}  // namespace snaphost
