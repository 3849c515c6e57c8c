#include "text.h"

#include <cstdarg>
#include <cstdio>

namespace snaphost {

std::string strf(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    int len = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string out;
    if (len > 0) {
        out.resize(static_cast<size_t>(len) + 1);
        std::vsnprintf(out.data(), out.size(), fmt, args);
        out.resize(static_cast<size_t>(len));
    }
    va_end(args);
    return out;
}

std::vector<std::string> lines(std::string_view text) {
    std::vector<std::string> out;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        out.emplace_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    while (!out.empty() && trim(out.back()).empty()) out.pop_back();
    return out;
}

std::string trim(std::string_view text) {
    const char* blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return std::string();
    size_t last = text.find_last_not_of(blanks);
    return std::string(text.substr(first, last - first + 1));
}

std::string shellWords(const std::vector<std::string>& argv) {
    static const std::string_view plain =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_./:=@%+,-{}";
    std::string out;
    for (const std::string& arg : argv) {
        if (!out.empty()) out += ' ';
        if (!arg.empty() && arg.find_first_not_of(plain) == std::string::npos) {
            out += arg;
            continue;
        }
        out += '\'';
        for (char c : arg) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        out += '\'';
    }
    return out;
}

}  // namespace snaphost
