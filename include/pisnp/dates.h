// Date records: conversions, arithmetic, formatting in the locale's formats, and parsing.
//
// nfDate keeps its year most significant byte first so that records compare byte by byte and
// can be written to files as they are; dsDate_t holds the same fields with a native year. The
// formats are the locale's (below), chosen by the message system's start-up. Every function may
// be called from any thread once the formats are chosen. Nothing here allocates; texts go into
// the caller's buffers, whose sizes each function states.
#pragma once

#include <cstddef>
#include <ctime>

#include "pisnp_export.h"
#include "pisnp_layout.h"

struct nfDate {
    unsigned char year[2];  // big-endian; all seven bytes 0 is minus infinity, year 0xFFFF plus
    unsigned char month;
    unsigned char day;
    unsigned char hour;
    unsigned char minute;
    unsigned char second;
};
PISNP_SIZE(nfDate, 7);
PISNP_AT(nfDate, month, 2);
PISNP_AT(nfDate, second, 6);

struct dsDate_t {
    unsigned short year;  // native byte order
    unsigned char month;
    unsigned char day;
    unsigned char hour;
    unsigned char minute;
    unsigned char second;
};
PISNP_AT(dsDate_t, year, 0);
PISNP_AT(dsDate_t, month, 2);
PISNP_AT(dsDate_t, day, 3);
PISNP_AT(dsDate_t, hour, 4);
PISNP_AT(dsDate_t, minute, 5);
PISNP_AT(dsDate_t, second, 6);

// The time stamps of a file's attribute record, as far as this library reads them. The record
// itself belongs to the callers; no other member is ever touched.
struct Attrib {
    time_t modifyTime;
    time_t accessTime;
    time_t changeTime;
};

// ---- Conversions and the present time ----------------------------------------------------------

// Nothing happens when either pointer is null.
PISNP_API void dateConvert(tm* in, nfDate* out);
// A stamp "YYYYMMDDhhmmss": each piece is read as a decimal number, without validation. A stamp
// that ends early leaves the missing pieces 0.
PISNP_API void dateConvert(char* stamp, nfDate* out);
// tm_isdst is 1, the members the record has no field for are 0.
PISNP_API tm dateNFDate2Tm(nfDate* date);
PISNP_API void dateNfdateToDsdate(nfDate* in, dsDate_t* out);
PISNP_API void dateDsdateToNfdate(dsDate_t* in, nfDate* out);

// localtime_r of *t into out; when that fails, of 172800 (two days after the epoch) instead, so
// that callers always get a usable date. Returns what the last localtime_r returned.
PISNP_API tm* psLocalTime(time_t* t, tm& out);
// gettimeofday; either pointer may be null. Returns its result.
PISNP_API int psGetTimeOfDay(long* seconds, long* microseconds);
// The current local time.
PISNP_API void dateLocal(nfDate* date);
// The current local time, and the microseconds of the present second.
PISNP_API void GetTimeOfDay(nfDate* date, long* microseconds);
// The current UTC time (two days after the epoch if it cannot be converted).
PISNP_API void dateGmt(nfDate* date);
PISNP_API void dateGmt(dsDate_t* date);

PISNP_API void dateSetMinusInfinite(nfDate* date);
PISNP_API void dateSetPlusInfinite(nfDate* date);

// ---- Arithmetic ------------------------------------------------------------------------------

// 1, 0 or -1 as a is later than, equal to or earlier than b (the infinities included).
PISNP_API int dateCmp(nfDate* a, nfDate* b);
// target = source + days, keeping the time of day; source and target may be the same record.
// Negative days count back. A source that is not a real date (month outside 1 to 12, day 0, the
// infinities) is copied unchanged; a result past either end of the year range is that infinity.
PISNP_API void dateIncr(nfDate* source, int days, nfDate* target);
// Days from b to a, 0 when a is earlier or either is not a real date.
PISNP_API int dateSub(nfDate* a, nfDate* b);

// ---- Formatting ------------------------------------------------------------------------------
//
// Date and time texts need 15 characters each (a date text shorter than 9 gets two blanks, to
// line up in columns); either may be null. A null format stands for the locale's. The result is
// always 0.

PISNP_API int psDateFormat(nfDate* date, char* dateText, char* timeText);
PISNP_API int psDateFormat(nfDate* date, char* dateText, char* timeText, char* dateFormat,
                           char* timeFormat);
PISNP_API int psDateFormat(nfDate* date, wchar_t* dateText, wchar_t* timeText);
PISNP_API int psDateFormat(nfDate* date, wchar_t* dateText, wchar_t* timeText, wchar_t* dateFormat,
                           wchar_t* timeFormat);
PISNP_API int dateFmt(nfDate* date, char* dateText, char* timeText);
PISNP_API int dateFmt(nfDate* date, char* dateText, char* timeText, char* dateFormat,
                      char* timeFormat);
PISNP_API int dateFmt(nfDate* date, wchar_t* dateText, wchar_t* timeText);
PISNP_API int dateFmt(nfDate* date, wchar_t* dateText, wchar_t* timeText, wchar_t* dateFormat,
                      wchar_t* timeFormat);

// "<date> <time>" in the locale's formats; the buffer needs 31 bytes. Returns the buffer.
PISNP_API char* dateNfDateToString(nfDate* date, char* out);
PISNP_API char* dateDsdateToString(dsDate_t* date, char* out);
// "2024-05-06T07:08:09", the year unpadded; 26 bytes suffice. Nothing is written when either
// pointer is null. Returns the buffer.
PISNP_API char* dateDsdateToISO8601String(dsDate_t* date, char* out);
// "hh<time_sep>mm<time_sep>ss"; 12 characters suffice. Returns the buffer.
PISNP_API char* dateNfTimeToString(nfDate* date, char* out);
PISNP_API wchar_t* dateNfTimeToString(nfDate* date, wchar_t* out);
// The local time of *t as dateNfDateToString writes it; nothing when either pointer is null.
PISNP_API char* psDateTimeToString(time_t* t, char* out);
// The modification, access and change times of the record, each as psDateTimeToString writes
// it; a null buffer is skipped, a null record does nothing.
PISNP_API void psGetFileTimes(Attrib* attrib, char* modified, char* accessed, char* changed);

// ---- Validation and parsing ------------------------------------------------------------------
//
// Texts are read in the locale's forms: three numbers separated by date_sep in the order of
// date_fmt_str (two-digit years are 2000 to 2089 and 1990 to 1999, other years before 1990 are
// refused), and up to three numbers separated by time_sep in the order of time_fmt_str, with
// am_str or pm_str after them on a 12-hour clock. Results: 0 accepted, 1 the time format mixes
// 12- and 24-hour clocks, 2 the text was refused.

// 1 when the record's date survives formatting and parsing back in the locale's date format and
// its time is a time of day, else 0.
PISNP_API int dateValidateDsDate(dsDate_t* date);
// Sets the date of *out (the time of day is kept), or, for "+N", sets *out to the present local
// time N days on.
PISNP_API int dateParse(char* text, nfDate* out);
// Sets the time of day of *out; its date is kept.
PISNP_API int timeParse(char* text, nfDate* out);

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
