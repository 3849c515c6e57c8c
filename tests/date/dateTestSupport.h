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
    nfDate r;
    SetTwo(r.year, static_cast<uint16_t>(y));
    r.month = static_cast<unsigned char>(m);
    r.day = static_cast<unsigned char>(d);
    r.hour = static_cast<unsigned char>(hh);
    r.minute = static_cast<unsigned char>(mm);
    r.second = static_cast<unsigned char>(ss);
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

// Saves the formats, their selectors and the separators, and puts them back at the end of the test.
class FormatScope {
  public:
    FormatScope() { save(); }
    ~FormatScope() { restore(); }

  private:
    void save() {
        std::memcpy(date_, date_fmt_str, sizeof date_);
        std::memcpy(time_, time_fmt_str, sizeof time_);
        std::memcpy(am_, am_str, sizeof am_);
        std::memcpy(pm_, pm_str, sizeof pm_);
        dateSep_ = date_sep, timeSep_ = time_sep;
        dateSel_ = date_fmt, timeSel_ = time_fmt;
    }
    void restore() {
        std::memcpy(date_fmt_str, date_, sizeof date_);
        std::memcpy(time_fmt_str, time_, sizeof time_);
        std::memcpy(am_str, am_, sizeof am_);
        std::memcpy(pm_str, pm_, sizeof pm_);
        date_sep = dateSep_, time_sep = timeSep_;
        date_fmt = dateSel_, time_fmt = timeSel_;
    }
    char date_[12], time_[12], am_[6], pm_[6];
    char dateSep_, timeSep_;
    unsigned dateSel_, timeSel_;
};

}  // namespace date_test
