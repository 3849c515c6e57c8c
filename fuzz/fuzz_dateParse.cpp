// The date and time readers over any text, under every fixed date and time format: each answer
// is one of the three codes, and an accepted text gives fields a date or a time of day can have.
// The first byte chooses the formats, the rest is the text.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "pisnp/dates.h"
#include "pisnp/messages.h"
#include "pisnp/strings.h"

namespace {

int monthLength(unsigned year, unsigned month) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

void require(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // Selectors 1 to 7 for dates, 1 to 5 for times (two of them on a 12-hour clock), and a
    // 12-hour format without its marker, which must refuse every text with 1.
    setDateFmt(1 + data[0] % 7);
    int timeChoice = data[0] / 7 % 6;
    setTimeFmt(timeChoice < 5 ? 1 + timeChoice : 1);
    if (timeChoice == 5) std::strcpy(time_fmt_str, "%I.%M.%S"), time_sep = '.';
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

    nfDate date{};
    int rc = dateParse(text.data(), &date);
    require(rc == 0 || rc == 2);
    if (rc == 0 && text[0] != '+') {
        unsigned year = GetTwo(date.year);
        require(year >= 1990 && date.month >= 1 && date.month <= 12);
        require(date.day >= 1 && date.day <= monthLength(year, date.month));
    }
    nfDate time{};
    rc = timeParse(text.data(), &time);
    require(timeChoice == 5 ? rc == 1 : rc == 0 || rc == 2);
    if (rc == 0) require(time.hour <= 23 && time.minute <= 59 && time.second <= 59);

    // The same bytes as a record, through the formatter and back.
    if (size >= 8) {
        dsDate_t record{GetTwo(data + 1), data[3], data[4], data[5], data[6], data[7]};
        rc = dateValidateDsDate(&record);
        require(rc == 0 || rc == 1);
    }
    return 0;
}
