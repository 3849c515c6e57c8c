// Reading dates and times in the locale's forms. The format only says in which order the numbers
// come and whether the clock has 12 hours; the text itself is read as numbers separated by the
// one separator character, the way the C library's scanf reads "%d<sep>%d<sep>%d".
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "pisnp/dates.h"
#include "pisnp/strings.h"

namespace {

constexpr int kRefused = 2;
constexpr int kClockMixed = 1;
constexpr size_t kMarkerMax = 5;

bool space(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// A cursor over the text that reads as scanf's directives do. Once a directive fails, nothing
// more is read and the count of items stays where it was.
class Scan {
  public:
    explicit Scan(const char* text) : p_(text) {}

    // "%d": blanks, a sign, at least one digit. Out-of-range numbers stick at the int limits,
    // where every range check refuses them.
    void number(int* out) {
        if (failed_) return;
        const char* q = skipBlanks(p_);
        bool negative = *q == '-';
        if (*q == '+' || *q == '-') ++q;
        if (!std::isdigit(static_cast<unsigned char>(*q))) return fail();
        long long v = 0;
        for (; std::isdigit(static_cast<unsigned char>(*q)); ++q) {
            if (v <= INT_MAX) v = v * 10 + (*q - '0');
        }
        if (negative) v = -v;
        *out = v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
        p_ = q;
        ++items_;
    }

    // A literal byte of the template; a white-space byte there matches any run of blanks.
    void literal(char c) {
        if (failed_) return;
        if (c != '\0' && space(c)) {
            p_ = skipBlanks(p_);
        } else if (c != '\0' && *p_ == c) {
            ++p_;
        } else {
            fail();
        }
    }

    // "%5s": blanks, then up to five bytes that are not blanks.
    void word(char (&out)[kMarkerMax + 1]) {
        if (failed_) return;
        const char* q = skipBlanks(p_);
        if (*q == '\0') return fail();
        size_t n = 0;
        while (n < kMarkerMax && q[n] != '\0' && !space(q[n])) {
            out[n] = q[n];
            ++n;
        }
        out[n] = '\0';
        p_ = q + n;
        ++items_;
    }

    int items() const { return items_; }

  private:
    static const char* skipBlanks(const char* q) {
        while (space(*q)) ++q;
        return q;
    }
    void fail() { failed_ = true; }

    const char* p_;
    int items_ = 0;
    bool failed_ = false;
};

// Where the conversions of a format stand: each "%", with one "E" or "O" modifier skipped,
// calls see(letter) until it answers false or the format ends.
template <typename See>
void walkFormat(const char* fmt, See see) {
    for (const char* p = fmt; p != nullptr;) {
        p = std::strchr(p, '%');
        if (p == nullptr) return;
        ++p;
        if (*p == 'E' || *p == 'O') ++p;
        char c = *p;
        if (c == '\0' || !see(c)) return;
        ++p;
    }
}

int monthLength(int year, int month) {
    static constexpr int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

int strpDate(const char* text, const char* fmt, nfDate* out) {
    if (text == nullptr || fmt == nullptr || out == nullptr) return kRefused;
    int dayPos = 0, monthPos = 0, yearPos = 0, next = 0;
    walkFormat(fmt, [&](char c) {
        if (c == 'd') dayPos = next;
        if (c == 'm') monthPos = next;
        if (c == 'Y' || c == 'y') yearPos = next;
        return ++next < 3;
    });

    int num[3] = {};
    Scan scan(text);
    scan.number(&num[0]);
    scan.literal(date_sep);
    scan.number(&num[1]);
    scan.literal(date_sep);
    scan.number(&num[2]);
    if (scan.items() < 3) return kRefused;

    int year = num[yearPos];
    if (year < 0 || (year >= 100 && year < 1990)) return kRefused;
    if (year < 100) year += year < 90 ? 2000 : 1900;
    // The record's year has 16 bits; a larger one cannot be kept, so it is not a date.
    if (year > 0xFFFF) return kRefused;
    int month = num[monthPos];
    if (month < 1 || month > 12) return kRefused;
    int day = num[dayPos];
    if (day < 1 || day > monthLength(year, month)) return kRefused;

    SetTwo(out->year, static_cast<uint16_t>(year));
    out->month = static_cast<unsigned char>(month);
    out->day = static_cast<unsigned char>(day);
    return 0;
}

bool sameText(const char* a, const char* b) {
    return strcasecmp(a, b) == 0;
}

// After the last number read (at `end`) and one separator, a 24-hour clock allows nothing more
// and a 12-hour clock exactly a marker, which is then taken.
bool restIsMarker(const char* end, bool twelve, char (&marker)[kMarkerMax + 1]) {
    if (*end == time_sep && time_sep != '\0') ++end;
    if (!twelve) return *end == '\0';
    if (!sameText(end, am_str) && !sameText(end, pm_str)) return false;
    std::strncpy(marker, end, kMarkerMax);
    marker[kMarkerMax] = '\0';
    return true;
}

}  // namespace

int dateParse(char* text, nfDate* out) {
    if (text == nullptr || out == nullptr) return kRefused;
    if (text[0] == '+') {
        long days = std::strtol(text + 1, nullptr, 10);
        days = days > INT_MAX ? INT_MAX : days < INT_MIN ? INT_MIN : days;
        dateLocal(out);
        dateIncr(out, static_cast<int>(days), out);
        return 0;
    }
    return strpDate(text, date_fmt_str, out);
}

int timeParse(char* text, nfDate* out) {
    int hourPos = 0, minutePos = 0, secondPos = 0, next = 0;
    bool twelve = false, hasMarker = false, first = true;
    walkFormat(time_fmt_str, [&](char c) {
        bool wasFirst = first;
        first = false;
        if (c == 'p') {
            hasMarker = true;
            if (wasFirst) return true;
        }
        if (c == 'H' || c == 'I') hourPos = next;
        if (c == 'I') twelve = true;
        if (c == 'M') minutePos = next;
        if (c == 'S') secondPos = next;
        return ++next < 4;
    });
    if (twelve != hasMarker) return kClockMixed;
    if (text == nullptr || out == nullptr) return kRefused;

    // Slot 3 is never read: a field that a strange format puts fourth stays 0.
    int num[4] = {};
    char marker[kMarkerMax + 1] = "";
    Scan scan(text);
    if (sameText(time_fmt_str, "%p%I:%M:%S")) {
        scan.word(marker);
        scan.literal(' ');
        scan.number(&num[0]);
        scan.literal(time_sep);
        scan.number(&num[1]);
        scan.literal(time_sep);
        scan.number(&num[2]);
    } else {
        scan.number(&num[0]);
        scan.literal(time_sep);
        scan.number(&num[1]);
        scan.literal(time_sep);
        scan.number(&num[2]);
        scan.word(marker);
    }
    int n = scan.items();
    if (marker[0] == '\'' || marker[0] == '"') std::memmove(marker, marker + 1, kMarkerMax);

    if (n == 1 && hourPos == 0) {
        char* end = text;
        std::strtol(text, &end, 10);
        if (!restIsMarker(end, twelve, marker)) return kRefused;
    } else if (n == 2 || n == 1) {
        if (hourPos + minutePos > 1) return kRefused;
        const char* sep = time_sep != '\0' ? std::strchr(text, time_sep) : nullptr;
        if (sep == nullptr) return kRefused;
        char* end = nullptr;
        std::strtol(sep + 1, &end, 10);
        if (!restIsMarker(end, twelve, marker)) return kRefused;
    } else if (n != (twelve ? 4 : 3)) {
        return kRefused;
    }

    bool afternoon = twelve && !sameText(marker, am_str);
    if (afternoon && !sameText(marker, pm_str)) return kRefused;
    int hour = num[hourPos], minute = num[minutePos], second = num[secondPos];
    if (twelve ? hour < 1 || hour > 12 : hour < 0 || hour > 23) return kRefused;
    if (minute < 0 || minute > 59 || second < 0 || second > 59) return kRefused;
    if (twelve) {
        if (afternoon && hour < 12) hour += 12;
        if (!afternoon && hour == 12) hour = 0;
    }
    out->hour = static_cast<unsigned char>(hour);
    out->minute = static_cast<unsigned char>(minute);
    out->second = static_cast<unsigned char>(second);
    return 0;
}

int dateValidateDsDate(dsDate_t* date) {
    if (date == nullptr) return 0;
    nfDate record;
    dateDsdateToNfdate(date, &record);
    char text[16] = "";
    psDateFormat(&record, text, nullptr);
    nfDate parsed = record;
    if (strpDate(text, date_fmt_str, &parsed) != 0) return 0;
    return date->hour <= 23 && date->minute <= 59 && date->second <= 59 ? 1 : 0;
}
