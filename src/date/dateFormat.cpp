// Dates and times as text: the locale's formats through strftime, and fixed forms.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>

#include "pisnp/dates.h"

namespace {

// strftime writes at most this many bytes, the terminating one included.
constexpr size_t kTextMax = 15;
// Working buffers of the wide forms, one more than the narrow texts need.
constexpr size_t kWideWork = 16;
// Date texts shorter than this get two blanks, so that columns of dates line up.
constexpr size_t kShortDate = 9;

void widen(const char* in, wchar_t* out) {
    size_t n = std::mbstowcs(out, in, kWideWork - 1);
    if (n == static_cast<size_t>(-1)) n = 0;  // not text of this locale: say nothing
    out[n < kWideWork - 1 ? n : kWideWork - 1] = L'\0';
}

// Formats longer than the buffer are cut, at a character boundary.
const char* narrow(const wchar_t* in, char (&out)[kWideWork]) {
    if (in == nullptr) return nullptr;
    size_t n = std::wcstombs(out, in, kWideWork - 1);
    if (n == static_cast<size_t>(-1)) n = 0;
    out[n < kWideWork - 1 ? n : kWideWork - 1] = '\0';
    return out;
}

}  // namespace

int psDateFormat(nfDate* date, char* dateText, char* timeText) {
    return psDateFormat(date, dateText, timeText, date_fmt_str, time_fmt_str);
}

int psDateFormat(nfDate* date, char* dateText, char* timeText, char* dateFormat, char* timeFormat) {
    if (date == nullptr) return 0;
    tm t = dateNFDate2Tm(date);
    if (dateText != nullptr) {
        // A text that does not fit leaves strftime's buffer undefined; it becomes empty.
        size_t n = std::strftime(dateText, kTextMax, dateFormat ? dateFormat : date_fmt_str, &t);
        dateText[n] = '\0';
        if (n < kShortDate) std::strcat(dateText, "  ");
    }
    if (timeText != nullptr) {
        size_t n = std::strftime(timeText, kTextMax, timeFormat ? timeFormat : time_fmt_str, &t);
        timeText[n] = '\0';
    }
    return 0;
}

int psDateFormat(nfDate* date, wchar_t* dateText, wchar_t* timeText) {
    return psDateFormat(date, dateText, timeText, nullptr, nullptr);
}

int psDateFormat(nfDate* date, wchar_t* dateText, wchar_t* timeText, wchar_t* dateFormat,
                 wchar_t* timeFormat) {
    char dateFmtBuf[kWideWork], timeFmtBuf[kWideWork];
    const char* df = narrow(dateFormat, dateFmtBuf);
    const char* tf = narrow(timeFormat, timeFmtBuf);
    char d[kWideWork] = "", t[kWideWork] = "";
    psDateFormat(date, dateText ? d : nullptr, timeText ? t : nullptr, const_cast<char*>(df),
                 const_cast<char*>(tf));
    if (dateText != nullptr) widen(d, dateText);
    if (timeText != nullptr) widen(t, timeText);
    return 0;
}

int dateFmt(nfDate* date, char* dateText, char* timeText) {
    return psDateFormat(date, dateText, timeText);
}
int dateFmt(nfDate* date, char* dateText, char* timeText, char* dateFormat, char* timeFormat) {
    return psDateFormat(date, dateText, timeText, dateFormat, timeFormat);
}
int dateFmt(nfDate* date, wchar_t* dateText, wchar_t* timeText) {
    return psDateFormat(date, dateText, timeText);
}
int dateFmt(nfDate* date, wchar_t* dateText, wchar_t* timeText, wchar_t* dateFormat,
            wchar_t* timeFormat) {
    return psDateFormat(date, dateText, timeText, dateFormat, timeFormat);
}

char* dateNfDateToString(nfDate* date, char* out) {
    if (date == nullptr || out == nullptr) return out;
    char d[kWideWork] = "", t[kWideWork] = "";
    psDateFormat(date, d, t);
    std::sprintf(out, "%s %s", d, t);
    return out;
}

char* dateDsdateToString(dsDate_t* date, char* out) {
    if (date == nullptr || out == nullptr) return out;
    nfDate record;
    dateDsdateToNfdate(date, &record);
    return dateNfDateToString(&record, out);
}

char* dateDsdateToISO8601String(dsDate_t* date, char* out) {
    if (date == nullptr || out == nullptr) return out;
    std::sprintf(out, "%d-%02d-%02dT%02d:%02d:%02d", date->year, date->month, date->day, date->hour,
                 date->minute, date->second);
    return out;
}

char* dateNfTimeToString(nfDate* date, char* out) {
    if (date == nullptr || out == nullptr) return out;
    std::sprintf(out, "%2.2d%c%2.2d%c%2.2d", date->hour, time_sep, date->minute, time_sep,
                 date->second);
    return out;
}

wchar_t* dateNfTimeToString(nfDate* date, wchar_t* out) {
    if (date == nullptr || out == nullptr) return out;
    char narrowText[16];
    dateNfTimeToString(date, narrowText);
    // Byte by byte: the separator is one byte, and digits are the same in every code set.
    size_t i = 0;
    for (; narrowText[i] != '\0'; ++i) out[i] = static_cast<unsigned char>(narrowText[i]);
    out[i] = L'\0';
    return out;
}

char* psDateTimeToString(time_t* t, char* out) {
    if (t == nullptr || out == nullptr) return out;
    tm local{};
    psLocalTime(t, local);
    nfDate record;
    dateConvert(&local, &record);
    return dateNfDateToString(&record, out);
}

void psGetFileTimes(Attrib* attrib, char* modified, char* accessed, char* changed) {
    if (attrib == nullptr) return;
    if (modified != nullptr) psDateTimeToString(&attrib->modifyTime, modified);
    if (accessed != nullptr) psDateTimeToString(&attrib->accessTime, accessed);
    if (changed != nullptr) psDateTimeToString(&attrib->changeTime, changed);
}
