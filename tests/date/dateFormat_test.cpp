// Dates as text: the blanks after short date texts, the fixed forms, and the wide forms that
// must say what the narrow ones say.
#include <gtest/gtest.h>

#include <string>

#include "dateTestSupport.h"
#include "pisnp/messages.h"

namespace {

using date_test::FormatScope;
using date_test::make;

std::wstring widened(const char* s) {
    return std::wstring(s, s + std::strlen(s));
}

TEST(DateFormat, LocaleFormsAndFixedForms) {
    FormatScope keep;
    setDateFmt(1);
    setTimeFmt(4);
    nfDate d = make(2024, 5, 6, 21, 8, 9);
    char date[16], time[16], both[32], shortFmt[] = "%m/%d/%y", longFmt[] = "%Y-%m-%d";
    psDateFormat(&d, date, nullptr, shortFmt, nullptr);
    EXPECT_STREQ(date, "05/06/24  ") << "short dates line up";
    dateFmt(&d, date, time, longFmt, nullptr);
    EXPECT_STREQ(date, "2024-05-06");
    EXPECT_STREQ(time, "09:08:09PM") << "a null format is the locale's";
    wchar_t wdate[16], wtime[16], wfmt[] = L"%Y-%m-%d";
    dateFmt(&d, wdate, wtime, wfmt, nullptr);
    EXPECT_EQ(wdate, widened(date));
    EXPECT_EQ(wtime, widened(time));
    dateFmt(&d, wdate, wtime);
    psDateFormat(&d, date, time);
    EXPECT_EQ(wdate, widened(date));
    dsDate_t ds{2024, 5, 6, 21, 8, 9}, early{5, 1, 2, 3, 4, 5};
    EXPECT_STREQ(dateDsdateToString(&ds, both), "05/06/2024 09:08:09PM");
    EXPECT_STREQ(dateDsdateToISO8601String(&ds, both), "2024-05-06T21:08:09");
    EXPECT_STREQ(dateDsdateToISO8601String(&early, both), "5-01-02T03:04:05");
    wchar_t wide[16];
    for (char sep : {':', '.'}) {
        time_sep = sep;
        nfDate t = make(2024, 5, 6, 7, 8, 9);
        std::string expected = std::string("07") + sep + "08" + sep + "09";
        EXPECT_EQ(dateNfTimeToString(&t, both), expected);
        EXPECT_EQ(dateNfTimeToString(&t, wide), widened(expected.c_str()));
    }
}

}  // namespace
