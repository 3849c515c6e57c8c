// Helpers shared by the log tests: dated lines, and a wrapping log read back oldest line first.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "pisnp/dates.h"
#include "diag/logFile.h"
#include "diag/traceTestSupport.h"

namespace log_test {

using trace_test::readFile;
using trace_test::TempDir;

// "<date> <time> <text>\n" as the logs write it, daysAgo days before now.
inline std::string datedLine(int daysAgo, const std::string& text) {
    time_t t = std::time(nullptr) - static_cast<time_t>(daysAgo) * 86400;
    tm lt;
    psLocalTime(&t, lt);
    nfDate d;
    unsigned year = static_cast<unsigned>(lt.tm_year + 1900);
    d.year[0] = static_cast<unsigned char>(year >> 8);
    d.year[1] = static_cast<unsigned char>(year & 0xff);
    d.month = static_cast<unsigned char>(lt.tm_mon + 1);
    d.day = static_cast<unsigned char>(lt.tm_mday);
    d.hour = static_cast<unsigned char>(lt.tm_hour);
    d.minute = static_cast<unsigned char>(lt.tm_min);
    d.second = static_cast<unsigned char>(lt.tm_sec);
    char date[16] = "", time[16] = "";
    dateFmt(&d, date, time);
    return std::string(date) + " " + time + " " + text + "\n";
}

inline std::vector<std::string> splitLines(const std::string& s) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < s.size()) {
        size_t nl = s.find('\n', at);
        if (nl == std::string::npos) nl = s.size();
        out.push_back(s.substr(at, nl - at));
        at = nl + 1;
    }
    return out;
}

// The lines of a wrapping log holding `tag`, oldest first: the older part behind the end marker
// (its first piece may be the rest of an overwritten line) up to the wrap marker, then the part
// from behind the header up to the recorded next offset.
inline std::vector<std::string> wrappedLines(const std::string& content, const std::string& tag) {
    unsigned long next = std::strtoul(content.substr(13, 12).c_str(), nullptr, 10);
    size_t headerEnd = content.find('\n') + 1;
    std::vector<std::string> out;
    size_t oldStart = next + std::strlen(endOfDataText) + 1;
    size_t cont = content.find("----- CONTINUED -----", oldStart);
    if (cont != std::string::npos) {
        auto older = splitLines(content.substr(oldStart, cont - oldStart));
        for (size_t i = 1; i < older.size(); ++i)
            if (older[i].find(tag) != std::string::npos) out.push_back(older[i]);
    }
    for (auto& l : splitLines(content.substr(headerEnd, next - headerEnd)))
        if (l.find(tag) != std::string::npos) out.push_back(l);
    return out;
}

// The numbers behind `tag` in lines are consecutive, ending at last.
inline void expectConsecutive(const std::vector<std::string>& lines, const std::string& tag,
                              long last) {
    ASSERT_FALSE(lines.empty());
    long expect = last - static_cast<long>(lines.size()) + 1;
    for (auto& l : lines) {
        size_t at = l.find(tag);
        ASSERT_NE(at, std::string::npos) << l;
        EXPECT_EQ(std::strtol(l.c_str() + at + tag.size(), nullptr, 10), expect) << l;
        ++expect;
    }
}

}  // namespace log_test
