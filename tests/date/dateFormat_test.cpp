// Dates as text: the blanks after short date texts, the fixed forms, and the wide forms that
// must say what the narrow ones say.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "dateTestSupport.h"
#include "pisnp/messages.h"

namespace {

using date_test::FormatScope;
using date_test::make;

TEST(DateFormat, ShortDatesLineUpAndTextsJoin) {
    FormatScope keep;
    setDateFmt(1);
    setTimeFmt(4);
    nfDate d = make(2024, 5, 6, 21, 8, 9);
    char date[16], time[16], both[32];
    char shortFmt[] = "%m/%d/%y", longFmt[] = "%Y-%m-%d";
    psDateFormat(&d, date, nullptr, shortFmt, nullptr);
    EXPECT_STREQ(date, "05/06/24  ");
    dateFmt(&d, date, time, longFmt, nullptr);
    EXPECT_STREQ(date, "2024-05-06");
    EXPECT_STREQ(time, "09:08:09PM") << "a null format is the locale's";
    EXPECT_STREQ(dateNfDateToString(&d, both), "05/06/2024 09:08:09PM");
    dsDate_t ds{2024, 5, 6, 21, 8, 9};
    EXPECT_STREQ(dateDsdateToString(&ds, both), "05/06/2024 09:08:09PM");
}

TEST(DateFormat, FixedForms) {
    FormatScope keep;
    char out[32];
    dsDate_t may{2024, 5, 6, 7, 8, 9}, early{5, 1, 2, 3, 4, 5};
    EXPECT_STREQ(dateDsdateToISO8601String(&may, out), "2024-05-06T07:08:09");
    EXPECT_STREQ(dateDsdateToISO8601String(&early, out), "5-01-02T03:04:05");
    nfDate d = make(2024, 5, 6, 7, 8, 9);
    wchar_t wide[16];
    for (char sep : {':', '.'}) {
        time_sep = sep;
        std::string expected = std::string("07") + sep + "08" + sep + "09";
        EXPECT_EQ(dateNfTimeToString(&d, out), expected);
        EXPECT_EQ(std::wstring(dateNfTimeToString(&d, wide)),
                  std::wstring(expected.begin(), expected.end()));
    }
}

// The wide forms give the narrow texts, widened, for the locale's formats and for given ones.
TEST(DateFormat, WideFormsMatchNarrow) {
    FormatScope keep;
    for (int sel = 1; sel <= 5; ++sel) {
        setDateFmt(sel);
        setTimeFmt(sel);
        nfDate d = make(1999 + sel, sel, sel * 5, sel * 4, sel * 11, sel * 7);
        char date[16], time[16];
        wchar_t wdate[16], wtime[16];
        dateFmt(&d, date, time);
        dateFmt(&d, wdate, wtime);
        EXPECT_EQ(std::wstring(wdate), std::wstring(date, date + std::strlen(date)));
        EXPECT_EQ(std::wstring(wtime), std::wstring(time, time + std::strlen(time)));
        wchar_t wfmt[] = L"%d|%m|%Y";
        char fmt[] = "%d|%m|%Y";
        dateFmt(&d, wdate, nullptr, wfmt, nullptr);
        dateFmt(&d, date, nullptr, fmt, nullptr);
        EXPECT_EQ(std::wstring(wdate), std::wstring(date, date + std::strlen(date)));
    }
}

TEST(DateFormat, FileTimesInTheirOrder) {
    Attrib a{86400 * 400, 86400 * 800, 86400 * 1200};
    char m[32], ac[32], c[32], expected[32];
    psGetFileTimes(&a, m, nullptr, c);
    EXPECT_STREQ(m, psDateTimeToString(&a.modifyTime, expected));
    EXPECT_STREQ(c, psDateTimeToString(&a.changeTime, expected));
    psGetFileTimes(&a, nullptr, ac, nullptr);
    EXPECT_STREQ(ac, psDateTimeToString(&a.accessTime, expected));
    EXPECT_STRNE(m, ac);
}

}  // namespace
