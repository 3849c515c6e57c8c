// Reading dates and times in the locale's forms: the refusals and their codes, the relative
// form, and texts written with each fixed format read back to the same record.
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <random>
#include <string>

#include "dateTestSupport.h"
#include "pisnp/messages.h"
#include "support/fakeClock.h"

namespace {

using date_test::FormatScope;
using date_test::make;
using date_test::same;
using date_test::show;

// rc, and the record as parsed into one filled with 0x55 bytes.
std::pair<int, nfDate> parse(int (*fn)(char*, nfDate*), std::string text) {
    nfDate out;
    std::memset(&out, 0x55, sizeof out);
    int rc = fn(text.data(), &out);
    return {rc, out};
}

TEST(DateParse, FormsAndRefusals) {
    FormatScope keep;
    setDateFmt(1);  // %m/%d/%Y
    struct {
        const char* text;
        nfDate date;  // year 0: refused
    } cases[] = {{"12/31/1999", make(1999, 12, 31)},
                 {"02/29/2024", make(2024, 2, 29)},
                 {"1/2/3", make(2003, 1, 2)},
                 {"1/2/95", make(1995, 1, 2)},
                 {" 1/ 2/ 2024junk", make(2024, 1, 2)},
                 {"02/29/2023", {}},
                 {"1/2/1950", {}},
                 {"13/01/2024", {}},
                 {"0/1/2024", {}},
                 {"1/2", {}},
                 {"1/2/-5", {}},
                 {"1/2/99999999999", {}},
                 {"1-2-2024", {}},
                 {"", {}}};
    for (auto& c : cases) {
        auto [rc, out] = parse(dateParse, c.text);
        bool accepted = GetTwo(c.date.year) != 0;
        EXPECT_EQ(rc, accepted ? 0 : 2) << c.text;
        if (accepted) {
            EXPECT_TRUE(
                same(out, make(GetTwo(c.date.year), c.date.month, c.date.day, 0x55, 0x55, 0x55)))
                << c.text << " gave " << show(out) << "; the time of day stays";
        }
    }
    setDateFmt(4);  // %d.%m.%Y
    EXPECT_TRUE(same(parse(dateParse, "31.12.2024").second, make(2024, 12, 31, 0x55, 0x55, 0x55)));
}

TEST(DateParse, DaysFromToday) {
    pisnp_test::FakeClock clock;
    nfDate now, week;
    dateLocal(&now);
    dateIncr(&now, 7, &week);
    EXPECT_TRUE(same(parse(dateParse, "+0").second, now));
    EXPECT_TRUE(same(parse(dateParse, "+7").second, week));
    EXPECT_EQ(parse(dateParse, "+7").first, 0);
}

TEST(TimeParse, ClocksOfTwentyFourAndTwelveHours) {
    FormatScope keep;
    setTimeFmt(1);  // %H:%M:%S
    struct {
        const char* text;
        int rc, h = 0, m = 0, s = 0;
    } h24[] = {{"9", 0, 9, 0, 0},
               {"9:30", 0, 9, 30, 0},
               {"9:30:15", 0, 9, 30, 15},
               {"23:59:59", 0, 23, 59, 59},
               {"24:00:00", 2},
               {"9:60", 2},
               {"9:30x", 2},
               {"9 ", 2},
               {"9:30:15pm", 2}},
      h12[] = {{"9:30:15 pm", 0, 21, 30, 15},
               {"12:00:00 AM", 0, 0, 0, 0},
               {"12:00:00 PM", 0, 12, 0, 0},
               {"9pm", 0, 21, 0, 0},
               {"9:30PM", 0, 21, 30, 0},
               {"11:00:00 'am", 0, 11, 0, 0},
               {"0:30:00 AM", 2},
               {"9:30:15", 2},
               {"9 pm", 2},
               {"13:00:00 PM", 2}};
    auto check = [](auto& table) {
        for (auto& c : table) {
            auto [rc, out] = parse(timeParse, c.text);
            EXPECT_EQ(rc, c.rc) << c.text;
            nfDate expected = c.rc == 0 ? make(0x5555, 0x55, 0x55, c.h, c.m, c.s) : out;
            EXPECT_TRUE(same(out, expected)) << c.text << " gave " << show(out);
        }
    };
    check(h24);
    setTimeFmt(4);  // %I:%M:%S%p
    check(h12);
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
    std::uniform_int_distribution<unsigned> y(1990, 9999), mo(1, 12), d(1, 28), h(0, 23), ms(0, 59);
    auto roundTrip = [&](const char* what) {
        for (int i = 0; i < 300; ++i) {
            nfDate in = make(y(rng), mo(rng), d(rng), h(rng), ms(rng), ms(rng));
            std::string date(16, '\0'), time(16, '\0');
            psDateFormat(&in, date.data(), time.data());
            // The marker-first form is read only with a blank after the marker.
            if (time_fmt == 5) time.insert(2, " ");
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
    for (dsDate_t bad : {dsDate_t{2024, 2, 30, 0, 0, 0}, dsDate_t{2023, 2, 29, 0, 0, 0},
                         dsDate_t{2024, 13, 1, 0, 0, 0}, dsDate_t{2024, 5, 6, 24, 0, 0},
                         dsDate_t{2024, 5, 6, 0, 60, 0}, dsDate_t{2024, 5, 6, 0, 0, 60},
                         dsDate_t{100, 1, 1, 0, 0, 0}, dsDate_t{1989, 12, 31, 0, 0, 0}}) {
        EXPECT_EQ(dateValidateDsDate(&bad), 0)
            << bad.year << "-" << int(bad.month) << "-" << int(bad.day) << " " << int(bad.hour);
    }
}

}  // namespace
