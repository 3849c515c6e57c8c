// Helpers of the date tests: records written as numbers, and the locale's formats kept for the
// length of a test.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>

#include "pisnp/dates.h"
#include "pisnp/strings.h"

namespace date_test {

inline nfDate make(unsigned y, unsigned m, unsigned d, unsigned hh = 0, unsigned mm = 0,
                   unsigned ss = 0) {
    nfDate r{{}, uint8_t(m), uint8_t(d), uint8_t(hh), uint8_t(mm), uint8_t(ss)};
    SetTwo(r.year, static_cast<uint16_t>(y));
    return r;
}

inline bool same(const nfDate& a, const nfDate& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

inline std::string show(const nfDate& r) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%u-%u-%u %u:%u:%u", GetTwo(r.year), r.month, r.day, r.hour,
                  r.minute, r.second);
    return buf;
}

// Puts the formats, their selectors and the separators back at the end of the test.
class FormatScope {
    char date_[12], time_[12], am_[6], pm_[6], dateSep_ = date_sep, timeSep_ = time_sep;
    unsigned dateSel_ = date_fmt, timeSel_ = time_fmt;
    template <size_t N>
    static void copy(char (&to)[N], const char (&from)[N]) {
        std::memcpy(to, from, N);
    }

  public:
    FormatScope() {
        copy(date_, date_fmt_str), copy(time_, time_fmt_str), copy(am_, am_str), copy(pm_, pm_str);
    }
    ~FormatScope() {
        copy(date_fmt_str, date_), copy(time_fmt_str, time_), copy(am_str, am_), copy(pm_str, pm_);
        date_sep = dateSep_, time_sep = timeSep_, date_fmt = dateSel_, time_fmt = timeSel_;
    }
};

}  // namespace date_test
