// Reading dates and times in the locale's forms: the refusals and their codes, the relative
// form, and texts written with each format read back to the same record.
#include <gtest/gtest.h>

#include <clocale>
#include <random>

#include "dateTestSupport.h"
#include "pisnp/messages.h"
#include "support/fakeClock.h"

namespace {

using date_test::FormatScope;
using date_test::make;
using date_test::same;
using date_test::show;

// rc, and the record as parsed into one filled with 0x55 bytes (which the parser must keep).
std::pair<int, nfDate> parse(int (*fn)(char*, nfDate*), std::string text) {
    nfDate out = make(0x5555, 0x55, 0x55, 0x55, 0x55, 0x55);
    int rc = fn(text.data(), &out);
    return {rc, out};
}

// Each text with what it gives ("yyyy-mm-dd" or "hh:mm:ss"), "" for a refusal (2). The part of
// the record that is not read must stay as it was.
void check(int (*fn)(char*, nfDate*), std::initializer_list<const char*> cases) {
    for (auto c = cases.begin(); c != cases.end(); c += 2) {
        auto [rc, out] = parse(fn, c[0]);
        char got[16] = "";
        if (rc == 0 && fn == dateParse)
            std::snprintf(got, sizeof got, "%u-%02u-%02u", GetTwo(out.year), out.month, out.day);
        if (rc == 0 && fn == timeParse)
            std::snprintf(got, sizeof got, "%02u:%02u:%02u", out.hour, out.minute, out.second);
        EXPECT_EQ(rc, *c[1] ? 0 : 2) << c[0];
        EXPECT_STREQ(got, c[1]) << c[0];
        EXPECT_EQ(fn == dateParse ? out.hour : out.month, 0x55) << c[0];
    }
}

TEST(DateParse, FormsAndRefusals) {
    FormatScope keep;
    setDateFmt(1);  // %m/%d/%Y
    check(dateParse, {"12/31/1999",
                      "1999-12-31",
                      "02/29/2024",
                      "2024-02-29",
                      "1/2/3",
                      "2003-01-02",
                      "1/2/95",
                      "1995-01-02",
                      " 1/ 2/ 2024junk",
                      "2024-01-02",
                      "02/29/2023",
                      "",
                      "1/2/1950",
                      "",
                      "13/01/2024",
                      "",
                      "0/1/2024",
                      "",
                      "1/2",
                      "",
                      "1/2/-5",
                      "",
                      "1/2/99999999999",
                      "",
                      "1-2-2024",
                      "",
                      "",
                      ""});
    setDateFmt(4);  // %d.%m.%Y
    check(dateParse, {"31.12.2024", "2024-12-31", "12/31/2024", ""});

    pisnp_test::FakeClock clock;  // "+N": N days from now, at the present time of day
    nfDate now, week;
    dateLocal(&now);
    dateIncr(&now, 7, &week);
    EXPECT_TRUE(same(parse(dateParse, "+0").second, now));
    EXPECT_TRUE(same(parse(dateParse, "+7").second, week));
}

TEST(TimeParse, ClocksOfTwentyFourAndTwelveHours) {
    FormatScope keep;
    setTimeFmt(1);  // %H:%M:%S
    check(timeParse,
          {"9", "09:00:00", "9:30", "09:30:00", "9:30:15", "09:30:15", "23:59:59", "23:59:59",
           "24:00:00", "", "9:60", "", "9:30x", "", "9 ", "", "9:30:15pm", ""});
    setTimeFmt(4);  // %I:%M:%S%p
    check(timeParse,
          {"9:30:15 pm",  "21:30:15", "12:00:00 AM", "00:00:00", "12:00:00 PM",  "12:00:00",
           "9pm",         "21:00:00", "9:30PM",      "21:30:00", "11:00:00 'am", "11:00:00",
           "0:30:00 AM",  "",         "9:30:15",     "",         "9 pm",         "",
           "13:00:00 PM", ""});
    setTimeFmt(5);  // %p%I:%M:%S
    check(timeParse, {"PM 9:30:15", "21:30:15", "am 12:00:00", "00:00:00", "9:30:15", ""});
    // A clock of 12 hours without a marker, or a marker on a clock of 24, reads nothing.
    for (const char* mixed : {"%I:%M:%S", "%H:%M:%S%p"}) {
        std::strcpy(time_fmt_str, mixed);
        EXPECT_EQ(parse(timeParse, "9:30:15 PM").first, 1) << mixed;
    }
}

// What the formats write, the parser reads back: every fixed selector over random dates and
// times, and the locale's own formats where the machine has the locale.
TEST(DateParse, FormattedTextReadsBack) {
    FormatScope keep;
    std::mt19937 rng(5);
    std::uniform_int_distribution<unsigned> y(1990, 9999), mo(1, 12), d(1, 28), ms(0, 59);
    auto roundTrip = [&](const char* what) {
        for (int i = 0; i < 300; ++i) {
            nfDate in = make(y(rng), mo(rng), d(rng), ms(rng) % 24, ms(rng), ms(rng));
            std::string date(16, '\0'), time(16, '\0');
            psDateFormat(&in, date.data(), time.data());
            if (time_fmt == 5) time.insert(2, " ");  // the marker-first form wants a blank
            auto [dateRc, outDate] = parse(dateParse, date);
            auto [timeRc, outTime] = parse(timeParse, time);
            ASSERT_EQ(dateRc, 0) << what << ": " << date;
            ASSERT_EQ(timeRc, 0) << what << ": " << time;
            ASSERT_EQ(std::memcmp(&outDate, &in, 4), 0) << what << ": " << date;
            ASSERT_EQ(std::memcmp(&outTime.hour, &in.hour, 3), 0) << what << ": " << time;
        }
    };
    for (int sel = 1; sel <= 7; ++sel) {
        setDateFmt(sel);
        setTimeFmt(sel <= 5 ? sel : 1);
        roundTrip(date_fmt_str);
    }
    for (const char* locale : {"de_DE.utf8", "en_US.utf8", "tr_TR.utf8"}) {
        if (std::setlocale(LC_ALL, locale) == nullptr) continue;
        setDateFmt(0);
        setTimeFmt(0);
        roundTrip(locale);
    }
    std::setlocale(LC_ALL, "C");
}

TEST(DateValidate, ImpossibleDatesAndTimes) {
    FormatScope keep;
    setDateFmt(1);
    dsDate_t ok{2024, 2, 29, 23, 59, 59};
    EXPECT_EQ(dateValidateDsDate(&ok), 1);
    for (dsDate_t bad : {dsDate_t{2024, 2, 30, 0, 0, 0},
                         {2023, 2, 29, 0, 0, 0},
                         {2024, 13, 1, 0, 0, 0},
                         {2024, 5, 6, 24, 0, 0},
                         {2024, 5, 6, 0, 60, 0},
                         {2024, 5, 6, 0, 0, 60},
                         {100, 1, 1, 0, 0, 0},
                         {1989, 12, 31, 0, 0, 0}})
        EXPECT_EQ(dateValidateDsDate(&bad), 0) << bad.year << "-" << +bad.month << "-" << +bad.day;
}

}  // namespace
