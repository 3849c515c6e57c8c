// Date records: the arithmetic held to the standard library's calendar over random dates, the
// special values, and the conversions between the record forms.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <random>
#include <tuple>

#include "dateTestSupport.h"

namespace {

using namespace std::chrono;
using date_test::make;
using date_test::same;
using date_test::show;

// Day number of a record by the standard calendar: the oracle the arithmetic is held to.
long serial(const nfDate& r) {
    return sys_days{year{GetTwo(r.year)} / month{r.month} / day{r.day}}.time_since_epoch().count();
}

nfDate fromSerial(long n, const nfDate& timeOf) {
    year_month_day ymd{sys_days{days{n}}};
    return make(static_cast<int>(ymd.year()), unsigned(ymd.month()), unsigned(ymd.day()),
                timeOf.hour, timeOf.minute, timeOf.second);
}

TEST(DateArithmetic, InfinitiesAndTheEndsOfTheRange) {
    nfDate minus, plus, zero{}, out;
    dateSetMinusInfinite(&minus);
    dateSetPlusInfinite(&plus);
    EXPECT_TRUE(same(minus, zero));
    EXPECT_EQ(GetTwo(plus.year), 0xFFFF);
    for (nfDate d : {make(0, 1, 1), make(2024, 5, 6, 1, 2, 3), make(65534, 12, 31, 23, 59, 59)}) {
        EXPECT_GT(dateCmp(&plus, &d), 0);
        EXPECT_LT(dateCmp(&minus, &d), 0);
        EXPECT_EQ(dateSub(&d, &minus), 0) << "the infinities are not real dates";
        EXPECT_EQ(dateSub(&plus, &d), 0);
    }
    // Not real dates stay what they are; past either end of the years is that infinity.
    dateIncr(&plus, 5, &out);
    EXPECT_TRUE(same(out, plus));
    nfDate last = make(65535, 12, 31, 1, 2, 3), first = make(0, 1, 1);
    dateIncr(&last, 1, &out);
    EXPECT_TRUE(same(out, plus));
    dateIncr(&first, -1, &out);
    EXPECT_TRUE(same(out, minus));
}

// dateIncr and dateSub agree with the calendar and with each other, and dateCmp orders as
// (day, time of day) does: first a day on from the borders of months, years, leap days and
// centuries, then over random dates and spans.
TEST(DateArithmetic, RandomDatesAgreeWithTheCalendar) {
    std::mt19937 rng(20240229);
    std::uniform_int_distribution<long> any(serial(make(1, 1, 1)), serial(make(9799, 12, 31)));
    std::uniform_int_distribution<int> span(0, 65535), clock(0, 59);
    auto random = [&] {
        return fromSerial(any(rng), make(0, 0, 0, clock(rng) % 24, clock(rng), clock(rng)));
    };
    auto key = [](const nfDate& r) {
        return std::make_tuple(serial(r), r.hour, r.minute, r.second);
    };
    const nfDate borders[] = {make(2024, 2, 28, 7, 8, 9), make(2023, 12, 31, 23, 59, 59),
                              make(2100, 2, 28), make(2000, 2, 28), make(2024, 1, 31)};
    for (int i = 0; i < 20000; ++i) {
        bool border = i < 5;
        nfDate a = border ? borders[i] : random(), later, back;
        int n = border ? 1 : span(rng);
        dateIncr(&a, n, &later);
        ASSERT_TRUE(same(later, fromSerial(serial(a) + n, a))) << show(a) << " + " << n;
        ASSERT_EQ(dateSub(&later, &a), n) << show(later) << " - " << show(a);
        ASSERT_EQ(dateSub(&a, &later), 0) << "an earlier first date gives 0";
        back = later;
        dateIncr(&back, -n, &back);  // source and target the same record
        ASSERT_TRUE(same(back, a)) << show(later) << " - " << n << " gave " << show(back);

        nfDate b = i % 3 ? random() : fromSerial(serial(a), random());  // some on the same day
        int expected = key(a) < key(b) ? -1 : key(b) < key(a) ? 1 : 0;
        ASSERT_EQ(dateCmp(&a, &b), expected) << show(a) << " vs " << show(b);
    }
}

TEST(DateConversions, RecordFormsRoundTrip) {
    for (nfDate d : {make(2000, 2, 29, 23, 59, 59), make(1900, 3, 1), make(2100, 12, 31, 1, 2, 3),
                     make(1999, 1, 9, 10, 0, 5)}) {
        dsDate_t ds;
        nfDate back, fromTm, fromStamp;
        dateNfdateToDsdate(&d, &ds);
        EXPECT_EQ(ds.year, GetTwo(d.year));
        dateDsdateToNfdate(&ds, &back);
        EXPECT_TRUE(same(back, d));
        tm t = dateNFDate2Tm(&d);
        EXPECT_EQ(t.tm_isdst, 1);
        dateConvert(&t, &fromTm);
        EXPECT_TRUE(same(fromTm, d));
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "%04u%02u%02u%02u%02u%02u", ds.year, ds.month, ds.day,
                      ds.hour, ds.minute, ds.second);
        dateConvert(stamp, &fromStamp);
        EXPECT_TRUE(same(fromStamp, d)) << stamp;
    }
    char shortStamp[] = "202405";
    nfDate cut;
    dateConvert(shortStamp, &cut);
    EXPECT_TRUE(same(cut, make(2024, 5, 0))) << "a short stamp leaves the rest 0";
}

}  // namespace
