// Date records: the arithmetic against the standard library's calendar, the special values,
// and the conversions between the record forms.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <random>
#include <tuple>

#include "pisnp/dates.h"
#include "pisnp/strings.h"

namespace {

using namespace std::chrono;

nfDate make(unsigned y, unsigned m, unsigned d, unsigned hh = 0, unsigned mm = 0, unsigned ss = 0) {
    nfDate r;
    SetTwo(r.year, static_cast<uint16_t>(y));
    r.month = static_cast<unsigned char>(m);
    r.day = static_cast<unsigned char>(d);
    r.hour = static_cast<unsigned char>(hh);
    r.minute = static_cast<unsigned char>(mm);
    r.second = static_cast<unsigned char>(ss);
    return r;
}

// Day number of a record by the standard calendar: the oracle the arithmetic is held to.
long serial(const nfDate& r) {
    return sys_days{year{GetTwo(r.year)} / month{r.month} / day{r.day}}.time_since_epoch().count();
}

nfDate fromSerial(long n, const nfDate& timeOf) {
    year_month_day ymd{sys_days{days{n}}};
    return make(static_cast<unsigned>(static_cast<int>(ymd.year())), unsigned(ymd.month()),
                unsigned(ymd.day()), timeOf.hour, timeOf.minute, timeOf.second);
}

bool same(const nfDate& a, const nfDate& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

std::string show(const nfDate& r) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%u-%u-%u %u:%u:%u", GetTwo(r.year), r.month, r.day, r.hour,
                  r.minute, r.second);
    return buf;
}

// A random real date of the years 1 to 9999 with a random time of day.
nfDate randomDate(std::mt19937& rng) {
    std::uniform_int_distribution<long> span(serial(make(1, 1, 1)), serial(make(9999, 12, 31)));
    std::uniform_int_distribution<unsigned> h(0, 23), ms(0, 59);
    return fromSerial(span(rng), make(0, 0, 0, h(rng), ms(rng), ms(rng)));
}

TEST(DateArithmetic, BordersOfMonthsYearsAndLeapDays) {
    struct Step {
        nfDate from;
        int days;
        nfDate to;
    } steps[] = {
        {make(2024, 2, 28, 7, 8, 9), 1, make(2024, 2, 29, 7, 8, 9)},
        {make(2023, 12, 31, 23, 59, 59), 1, make(2024, 1, 1, 23, 59, 59)},
        {make(2100, 2, 28), 1, make(2100, 3, 1)},
        {make(2000, 2, 28), 1, make(2000, 2, 29)},
        {make(2024, 1, 31), 30, make(2024, 3, 1)},
        {make(2024, 3, 1), -1, make(2024, 2, 29)},
    };
    for (auto& s : steps) {
        nfDate out{};
        dateIncr(&s.from, s.days, &out);
        EXPECT_TRUE(same(out, s.to)) << show(s.from) << " + " << s.days << " gave " << show(out);
        nfDate inPlace = s.from;
        dateIncr(&inPlace, s.days, &inPlace);
        EXPECT_TRUE(same(inPlace, s.to)) << "source and target the same record";
    }
    nfDate mar1 = make(2024, 3, 1), feb1 = make(2024, 2, 1);
    EXPECT_EQ(dateSub(&mar1, &feb1), 29);
    EXPECT_EQ(dateSub(&feb1, &mar1), 0) << "an earlier first date gives 0";
    nfDate y2025 = make(2025, 1, 1), y2024 = make(2024, 1, 1);
    EXPECT_EQ(dateSub(&y2025, &y2024), 366);
    nfDate y1900 = make(1900, 3, 1), y1900feb = make(1900, 2, 28);
    EXPECT_EQ(dateSub(&y1900, &y1900feb), 1) << "1900 had no leap day";
}

TEST(DateArithmetic, InfinitiesAndTheEndsOfTheRange) {
    nfDate minus, plus;
    dateSetMinusInfinite(&minus);
    dateSetPlusInfinite(&plus);
    EXPECT_EQ(GetTwo(plus.year), 0xFFFF);
    nfDate zero{};
    EXPECT_TRUE(same(minus, zero));
    std::mt19937 rng(7);
    for (int i = 0; i < 200; ++i) {
        nfDate d = randomDate(rng);
        EXPECT_GT(dateCmp(&plus, &d), 0);
        EXPECT_LT(dateCmp(&d, &plus), 0);
        EXPECT_LT(dateCmp(&minus, &d), 0);
        EXPECT_GT(dateCmp(&d, &minus), 0);
        EXPECT_EQ(dateCmp(&d, &d), 0);
    }
    // Not real dates: they stay what they are, and count no days.
    nfDate out;
    dateIncr(&plus, 5, &out);
    EXPECT_TRUE(same(out, plus));
    dateIncr(&minus, 5, &out);
    EXPECT_TRUE(same(out, minus));
    nfDate d = make(2024, 5, 6);
    EXPECT_EQ(dateSub(&d, &minus), 0);
    EXPECT_EQ(dateSub(&plus, &d), 0);
    // Past the last or before the first year: the infinity on that side.
    nfDate last = make(65535, 12, 31, 1, 2, 3);
    dateIncr(&last, 1, &out);
    EXPECT_TRUE(same(out, plus));
    nfDate first = make(0, 1, 1);
    dateIncr(&first, -1, &out);
    EXPECT_TRUE(same(out, minus));
}

// Over many random dates and spans: dateIncr and dateSub agree with the calendar and with each
// other, and dateCmp orders as (year, day of year, time of day) does.
TEST(DateArithmetic, RandomDatesAgreeWithTheCalendar) {
    std::mt19937 rng(20240229);
    std::uniform_int_distribution<int> span(0, 65535);
    for (int i = 0; i < 20000; ++i) {
        nfDate a = randomDate(rng);
        int n = span(rng);
        nfDate later;
        dateIncr(&a, n, &later);
        if (GetTwo(later.year) > 9999) continue;
        ASSERT_TRUE(same(later, fromSerial(serial(a) + n, a))) << show(a) << " + " << n;
        ASSERT_EQ(dateSub(&later, &a), n) << show(later) << " - " << show(a);
        nfDate back;
        dateIncr(&later, -n, &back);
        ASSERT_TRUE(same(back, a)) << show(later) << " - " << n << " gave " << show(back);

        nfDate b = randomDate(rng);
        if (i % 3 == 0) b = fromSerial(serial(a), b);  // same day, other time
        auto key = [](const nfDate& r) {
            return std::make_tuple(serial(r), r.hour, r.minute, r.second);
        };
        int expected = key(a) < key(b) ? -1 : key(b) < key(a) ? 1 : 0;
        ASSERT_EQ(dateCmp(&a, &b), expected) << show(a) << " vs " << show(b);
    }
}

TEST(DateConversions, RecordFormsRoundTrip) {
    std::mt19937 rng(1);
    for (int i = 0; i < 2000; ++i) {
        nfDate d = i == 0 ? make(2000, 2, 29, 23, 59, 59) : i == 1 ? make(1900, 3, 1) : randomDate(rng);
        dsDate_t ds;
        dateNfdateToDsdate(&d, &ds);
        EXPECT_EQ(ds.year, GetTwo(d.year));
        nfDate back;
        dateDsdateToNfdate(&ds, &back);
        ASSERT_TRUE(same(back, d));

        tm t = dateNFDate2Tm(&d);
        EXPECT_EQ(t.tm_isdst, 1);
        EXPECT_EQ(t.tm_wday, 0);
        nfDate fromTm;
        dateConvert(&t, &fromTm);
        ASSERT_TRUE(same(fromTm, d));

        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "%04u%02u%02u%02u%02u%02u", GetTwo(d.year), d.month,
                      d.day, d.hour, d.minute, d.second);
        nfDate fromStamp;
        dateConvert(stamp, &fromStamp);
        ASSERT_TRUE(same(fromStamp, d)) << stamp;
    }
    char shortStamp[] = "202405";
    nfDate cut;
    dateConvert(shortStamp, &cut);
    EXPECT_TRUE(same(cut, make(2024, 5, 0))) << "a short stamp leaves the rest 0";
}

}  // namespace
