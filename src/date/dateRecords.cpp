// Date records: conversions between the record forms, the present time, and day arithmetic.
#include <sys/time.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "base/sysCalls.h"
#include "pisnp/dates.h"
#include "pisnp/strings.h"

namespace {

// Days before month m (m = 0 to 12), for common and for leap years.
constexpr unsigned short sofar[2][13] = {
    {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365},
    {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366},
};

// Whatever the zone, two days after the epoch is still in 1970.
constexpr time_t kFallbackInstant = 172800;

// Every 400 years the calendar repeats, 146097 days later.
constexpr long long kDaysPer400Years = 146097;

int leap(unsigned year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0 ? 1 : 0;
}

unsigned yearLength(unsigned year) {
    return leap(year) ? 366 : 365;
}

unsigned yearOf(const nfDate* d) {
    return GetTwo(d->year);
}

// year * 65536 + day of year; 0 for a record whose month is not a month.
uint32_t makeday(const nfDate* d) {
    if (d->month < 1 || d->month > 12) return 0;
    unsigned year = yearOf(d);
    return (static_cast<uint32_t>(year) << 16) + sofar[leap(year)][d->month - 1] + d->day;
}

void fromTm(const tm& t, nfDate* date) {
    SetTwo(date->year, static_cast<uint16_t>(t.tm_year + 1900));
    date->month = static_cast<unsigned char>(t.tm_mon + 1);
    date->day = static_cast<unsigned char>(t.tm_mday);
    date->hour = static_cast<unsigned char>(t.tm_hour);
    date->minute = static_cast<unsigned char>(t.tm_min);
    date->second = static_cast<unsigned char>(t.tm_sec);
}

void localAt(time_t seconds, nfDate* date) {
    tm t{};
    psLocalTime(&seconds, t);
    fromTm(t, date);
}

// The decimal number in the `len` characters at `p`, stopping early at the end of the text.
int piece(const char* p, size_t len, size_t* used) {
    char buf[8] = "";
    size_t n = 0;
    while (n < len && p[n] != '\0') {
        buf[n] = p[n];
        ++n;
    }
    *used = n;
    return static_cast<int>(std::strtol(buf, nullptr, 10));
}

}  // namespace

// ---- Conversions -------------------------------------------------------------------------------

void dateConvert(tm* in, nfDate* out) {
    if (in != nullptr && out != nullptr) fromTm(*in, out);
}

void dateConvert(char* stamp, nfDate* out) {
    if (stamp == nullptr || out == nullptr) return;
    static constexpr size_t widths[6] = {4, 2, 2, 2, 2, 2};
    int values[6] = {};
    size_t at = 0;
    for (int i = 0; i < 6; ++i) {
        size_t used = 0;
        values[i] = piece(stamp + at, widths[i], &used);
        at += used;
        if (used < widths[i]) break;  // the stamp ended; never read past its end
    }
    SetTwo(out->year, static_cast<uint16_t>(values[0]));
    out->month = static_cast<unsigned char>(values[1]);
    out->day = static_cast<unsigned char>(values[2]);
    out->hour = static_cast<unsigned char>(values[3]);
    out->minute = static_cast<unsigned char>(values[4]);
    out->second = static_cast<unsigned char>(values[5]);
}

tm dateNFDate2Tm(nfDate* date) {
    tm t{};
    if (date == nullptr) return t;
    t.tm_sec = date->second;
    t.tm_min = date->minute;
    t.tm_hour = date->hour;
    t.tm_mday = date->day;
    t.tm_mon = date->month - 1;
    t.tm_year = static_cast<int>(yearOf(date)) - 1900;
    t.tm_isdst = 1;
    return t;
}

void dateNfdateToDsdate(nfDate* in, dsDate_t* out) {
    if (in == nullptr || out == nullptr) return;
    out->year = GetTwo(in->year);
    out->month = in->month;
    out->day = in->day;
    out->hour = in->hour;
    out->minute = in->minute;
    out->second = in->second;
}

void dateDsdateToNfdate(dsDate_t* in, nfDate* out) {
    if (in == nullptr || out == nullptr) return;
    SetTwo(out->year, in->year);
    out->month = in->month;
    out->day = in->day;
    out->hour = in->hour;
    out->minute = in->minute;
    out->second = in->second;
}

// ---- The present time --------------------------------------------------------------------------

tm* psLocalTime(time_t* t, tm& out) {
    tm* result = t != nullptr ? localtime_r(t, &out) : nullptr;
    if (result == nullptr) {
        time_t fallback = kFallbackInstant;
        result = localtime_r(&fallback, &out);
    }
    return result;
}

int psGetTimeOfDay(long* seconds, long* microseconds) {
    timeval tv{};
    int rc = pisnp::sys::gettimeofday(&tv);
    if (seconds != nullptr) *seconds = static_cast<long>(tv.tv_sec);
    if (microseconds != nullptr) *microseconds = static_cast<long>(tv.tv_usec);
    return rc;
}

void dateLocal(nfDate* date) {
    if (date != nullptr) localAt(pisnp::sys::time(nullptr), date);
}

void GetTimeOfDay(nfDate* date, long* microseconds) {
    long seconds = 0;
    psGetTimeOfDay(&seconds, microseconds);
    if (date != nullptr) localAt(static_cast<time_t>(seconds), date);
}

void dateGmt(nfDate* date) {
    if (date == nullptr) return;
    time_t now = pisnp::sys::time(nullptr);
    tm t{};
    if (gmtime_r(&now, &t) == nullptr) {
        time_t fallback = kFallbackInstant;
        gmtime_r(&fallback, &t);
    }
    fromTm(t, date);
}

void dateGmt(dsDate_t* date) {
    if (date == nullptr) return;
    nfDate now;
    dateGmt(&now);
    dateNfdateToDsdate(&now, date);
}

void dateSetMinusInfinite(nfDate* date) {
    if (date != nullptr) std::memset(date, 0, sizeof *date);
}

void dateSetPlusInfinite(nfDate* date) {
    if (date == nullptr) return;
    std::memset(date, 0, sizeof *date);
    SetTwo(date->year, 0xFFFF);
}

// ---- Arithmetic --------------------------------------------------------------------------------

int dateCmp(nfDate* a, nfDate* b) {
    unsigned ya = yearOf(a), yb = yearOf(b);
    if (ya != yb) return ya > yb ? 1 : -1;
    int c = std::memcmp(&a->month, &b->month, 5);
    return (c > 0) - (c < 0);
}

void dateIncr(nfDate* source, int days, nfDate* target) {
    nfDate result = *source;
    uint32_t start = makeday(source);
    if (start == 0 || source->day == 0) {
        *target = result;
        return;
    }
    // Counted in 64 bits and with whole 400-year cycles first, so that any int of days lands on
    // the right date (or past the end of the range) without a carry into the year.
    long long year = start >> 16;
    long long doy = static_cast<long long>(start & 0xFFFF) + days;
    long long cycles = (doy > 0 ? doy - 1 : doy - kDaysPer400Years) / kDaysPer400Years;
    year += cycles * 400;
    doy -= cycles * kDaysPer400Years;
    // The leap years repeat every 400 years, so a year before 0 is measured by its like.
    auto lengthOf = [](long long y) {
        return static_cast<long long>(yearLength(static_cast<unsigned>((y % 400 + 400) % 400)));
    };
    while (year <= 0xFFFF && doy > lengthOf(year)) {
        doy -= lengthOf(year);
        ++year;
    }
    if (year > 0xFFFF) {
        dateSetPlusInfinite(target);
        return;
    }
    if (year < 0) {
        dateSetMinusInfinite(target);
        return;
    }
    const unsigned short* row = sofar[leap(static_cast<unsigned>(year))];
    int month = 1;
    while (row[month] < doy) ++month;
    SetTwo(result.year, static_cast<uint16_t>(year));
    result.month = static_cast<unsigned char>(month);
    result.day = static_cast<unsigned char>(doy - row[month - 1]);
    *target = result;
}

int dateSub(nfDate* a, nfDate* b) {
    uint32_t da = makeday(a), db = makeday(b);
    if (da == 0 || db == 0 || da < db) return 0;
    // Counted in an int rather than 16 bits: spans of more than 179 years stay right.
    int count = static_cast<int>(da & 0xFFFF);
    for (unsigned year = da >> 16; year > db >> 16; --year)
        count += static_cast<int>(yearLength(year - 1));
    return count - static_cast<int>(db & 0xFFFF);
}
