// Choosing the date, time and number formats: a fixed one by its selector, or the locale's own
// when its format is simple enough for the date functions to print and parse.
#include <langinfo.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "nls/nlsInternal.h"
#include "pisnp/dates.h"

namespace {

constexpr char kDefaultDate[] = "%m/%d/%Y";
constexpr char kDefaultTime[] = "%H:%M:%S";
constexpr size_t kLocaleFormatMax = 14;

// What a scan of a locale format found.
struct Scan {
    bool accepted = false;
    char separator = 0;  // the first separator byte seen, 0 if none
};

// Reads conversions "%", an optional modifier out of `modifiers`, a letter out of `letters`, each
// followed by at most one separator byte; `allowed` decides whether a letter may come at that
// point. A separator byte of a multibyte character rejects the format.
template <typename Allowed>
Scan scanFormat(const char* fmt, const char* modifiers, const char* letters, int maxConversions,
                Allowed allowed, int* conversions, bool* sawP) {
    Scan scan;
    *conversions = 0;
    *sawP = false;
    if (fmt == nullptr || fmt[0] != '%' || std::strlen(fmt) > kLocaleFormatMax) return scan;
    bool multibyte = false;
    const char* p = fmt;
    while (*p == '%' && *conversions < maxConversions) {
        ++p;
        if (*p != '\0' && std::strchr(modifiers, *p) != nullptr) ++p;
        char c = *p;
        if (c == '\0' || std::strchr(letters, c) == nullptr || !allowed(c, *conversions))
            return scan;
        if (c == 'p') *sawP = true;
        ++*conversions;
        ++p;
        if (*p != '\0' && *p != '%') {
            if (static_cast<unsigned char>(*p) >= 0x80) multibyte = true;
            if (scan.separator == 0) scan.separator = *p;
            ++p;
        }
    }
    scan.accepted = !multibyte;
    return scan;
}

Scan scanDate(const char* fmt) {
    int d = 0, m = 0, y = 0;
    auto allowed = [&](char c, int) {
        int& n = c == 'd' ? d : c == 'm' ? m : y;
        return ++n == 1;
    };
    int conversions;
    bool sawP;
    Scan s = scanFormat(fmt, "EO", "dmyY", 3, allowed, &conversions, &sawP);
    s.accepted = s.accepted && conversions == 3;
    return s;
}

Scan scanTime(const char* fmt) {
    int hour = 0, minute = 0, second = 0;
    bool twelve = false;
    auto allowed = [&](char c, int index) {
        switch (c) {
            case 'H':
            case 'I':
                twelve = c == 'I';
                return ++hour == 1;
            case 'M':
                return ++minute == 1;
            case 'S':
                return ++second == 1;
            default:  // p: the fourth conversion, of a twelve-hour clock
                return index == 3 && twelve;
        }
    };
    int conversions;
    bool sawP;
    Scan s = scanFormat(fmt, "O", "HIMSp", 4, allowed, &conversions, &sawP);
    s.accepted = s.accepted && (sawP ? conversions == 4 : conversions == 3);
    return s;
}

const char* localeText(nl_item item) {
    const char* s = nl_langinfo(item);
    return s != nullptr ? s : "";
}

}  // namespace

void setDateFmt() {
    static constexpr const char* kFixed[] = {nullptr,    "%m/%d/%Y", "%d-%m-%Y", "%Y-%m-%d",
                                             "%d.%m.%Y", "%Y.%m.%d", "%Y/%m/%d", "%d/%m/%Y"};
    char separator = 0;
    if (date_fmt == 0) {
        const char* fmt = localeText(D_FMT);
        Scan s = scanDate(fmt);
        separator = s.separator;
        nlsCopy(date_fmt_str,
                s.accepted && std::strlen(fmt) < sizeof date_fmt_str ? fmt : kDefaultDate);
    } else if (date_fmt < std::size(kFixed)) {
        nlsCopy(date_fmt_str, kFixed[date_fmt]);
    }
    date_sep = separator != 0 ? separator : date_fmt_str[2];
}

void setDateFmt(int fmt) {
    date_fmt = static_cast<unsigned int>(fmt);
    setDateFmt();
}

void setTimeFmt() {
    static constexpr const char* kFixed[] = {nullptr,    "%H:%M:%S",   "%H,%M,%S",
                                             "%H.%M.%S", "%I:%M:%S%p", "%p%I:%M:%S"};
    am_str[0] = pm_str[0] = '\0';
    char separator = 0;
    if (time_fmt == 0) {
        const char* fmt = localeText(T_FMT);
        Scan s = scanTime(fmt);
        separator = s.separator;
        if (s.accepted && std::strlen(fmt) < sizeof time_fmt_str) {
            nlsCopy(time_fmt_str, fmt);
            nlsCopy(am_str, localeText(AM_STR));
            nlsCopy(pm_str, localeText(PM_STR));
        } else {
            nlsCopy(time_fmt_str, kDefaultTime);
        }
    } else if (time_fmt < std::size(kFixed)) {
        nlsCopy(time_fmt_str, kFixed[time_fmt]);
        if (time_fmt >= 4) {
            nlsCopy(am_str, "AM");
            nlsCopy(pm_str, "PM");
        }
    }
    time_sep = separator != 0 ? separator : time_fmt_str[time_fmt == 5 ? 4 : 2];
}

void setTimeFmt(int fmt) {
    time_fmt = static_cast<unsigned int>(fmt);
    setTimeFmt();
}

void setNumberFmt() {
    struct Pair {
        wchar_t thousands;
        char decimal;
    };
    static constexpr Pair kFixed[] = {{0, 0},      {L',', '.'}, {L',', ','}, {L' ', ','},
                                      {L' ', '.'}, {L'.', ','}, {L'\'', ','}};
    if (number_fmt >= 1 && number_fmt < std::size(kFixed)) {
        thousand_sep = kFixed[number_fmt].thousands;
        decimal_sep = kFixed[number_fmt].decimal;
    } else {
        nlsLocaleSeparators();
    }
    subsecond_sep = decimal_sep;
}

void nlsLocaleSeparators() {
    const lconv* conv = std::localeconv();
    wchar_t sep = L',';
    const char* t = conv->thousands_sep;
    if (t != nullptr && *t != '\0' && std::mbtowc(&sep, t, std::strlen(t)) <= 0) sep = L',';
    thousand_sep = sep;
    const char* d = conv->decimal_point;
    decimal_sep = d != nullptr && *d != '\0' ? *d : '.';
    subsecond_sep = decimal_sep;
}

void setNumberFmt(int fmt) {
    number_fmt = static_cast<unsigned int>(fmt);
    setNumberFmt();
}
