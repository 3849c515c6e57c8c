// Minimal date support until the date subsystem lands: dates and times are formatted with the
// locale's formats as the message system's start-up chose them.
#include "base/sysCalls.h"
#include "date/dateRecords.h"

#include <sys/time.h>

#include <ctime>

namespace {

void fromTm(const std::tm& tm, nfDate* date) {
    unsigned year = static_cast<unsigned>(tm.tm_year + 1900);
    date->year[0] = static_cast<unsigned char>(year >> 8);
    date->year[1] = static_cast<unsigned char>(year & 0xFF);
    date->month = static_cast<unsigned char>(tm.tm_mon + 1);
    date->day = static_cast<unsigned char>(tm.tm_mday);
    date->hour = static_cast<unsigned char>(tm.tm_hour);
    date->minute = static_cast<unsigned char>(tm.tm_min);
    date->second = static_cast<unsigned char>(tm.tm_sec);
}

void localAt(time_t seconds, nfDate* date) {
    std::tm tm{};
    psLocalTime(&seconds, tm);
    fromTm(tm, date);
}

}  // namespace

tm* psLocalTime(time_t* t, tm& out) {
    tm* result = localtime_r(t, &out);
    if (result == nullptr) {
        time_t fallback = 172800;  // two days after the epoch: a date every zone can show
        result = localtime_r(&fallback, &out);
    }
    return result;
}

void dateLocal(nfDate* date) {
    if (date != nullptr) localAt(pisnp::sys::time(nullptr), date);
}

void GetTimeOfDay(nfDate* date, long* microseconds) {
    timeval tv{};
    pisnp::sys::gettimeofday(&tv);
    if (date != nullptr) localAt(tv.tv_sec, date);
    if (microseconds != nullptr) *microseconds = static_cast<long>(tv.tv_usec);
}

int dateFmt(nfDate* date, char* dateText, char* timeText) {
    if (date == nullptr) return 0;
    std::tm tm{};
    tm.tm_year = ((date->year[0] << 8) | date->year[1]) - 1900;
    tm.tm_mon = date->month - 1;
    tm.tm_mday = date->day;
    tm.tm_hour = date->hour;
    tm.tm_min = date->minute;
    tm.tm_sec = date->second;
    tm.tm_isdst = 1;
    if (dateText != nullptr) {
        size_t n = std::strftime(dateText, 15, date_fmt_str, &tm);
        if (n < 9) {
            dateText[n] = ' ';
            dateText[n + 1] = ' ';
            dateText[n + 2] = '\0';
        }
    }
    if (timeText != nullptr && std::strftime(timeText, 15, time_fmt_str, &tm) == 0) *timeText = '\0';
    return 0;
}
