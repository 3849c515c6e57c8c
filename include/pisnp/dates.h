// Date records and the local time.
//
// nfDate keeps its year most significant byte first so that records compare byte by byte and
// can be written to files as they are. All functions may be called from any thread.
#pragma once

#include <ctime>

#include "pisnp_export.h"

struct nfDate {
    unsigned char year[2];  // big-endian
    unsigned char month;
    unsigned char day;
    unsigned char hour;
    unsigned char minute;
    unsigned char second;
};
static_assert(sizeof(nfDate) == 7);

// localtime_r of *t into out; when that fails, of 172800 (two days after the epoch) instead, so
// that callers always get a usable date. Returns what the last localtime_r returned. The
// parameter types are those the date functions and the host link against.
PISNP_API tm* psLocalTime(time_t* t, tm& out);

// The locale's date, time and number formats. The message system's start-up chooses them (its
// setDateFmt, setTimeFmt and setNumberFmt, pisnp/messages.h); the date functions read them. They
// change only at start-up, before other threads format dates.
PISNP_API extern unsigned int date_fmt;  // selectors: 0 from the locale, else a fixed format
PISNP_API extern unsigned int time_fmt;
PISNP_API extern unsigned int number_fmt;
PISNP_API extern char date_fmt_str[12];  // strftime format, "%m/%d/%Y" at first
PISNP_API extern char time_fmt_str[12];  // strftime format, "%H:%M:%S" at first
PISNP_API extern char am_str[6];
PISNP_API extern char pm_str[6];
PISNP_API extern char date_sep;
PISNP_API extern char time_sep;
PISNP_API extern wchar_t thousand_sep;
PISNP_API extern char decimal_sep;
PISNP_API extern char subsecond_sep;  // always decimal_sep
