// What start-up reads from the locale: language, code set and catalog directory, and the date,
// time and number formats.
#include <gtest/gtest.h>

#include "nlsTestSupport.h"
#include "pisnp/dates.h"

namespace {

using nls_test::LocaleScope;

TEST(Locale, LanguageCodeSetAndSupport) {
    {
        LocaleScope none(nullptr);
        EXPECT_EQ(psEnvInit(1), 4);
        EXPECT_STREQ(Language, "EN_US");
        EXPECT_STREQ(CodePage, "UTF-8");
    }
    {
        LocaleScope latin("de_DE.ISO-8859-1");
        NLS_NEED_LOCALE(latin, "de_DE.ISO-8859-1");
        EXPECT_EQ(psEnvInit(1), 4);
        EXPECT_STREQ(Language, "de_DE");
        EXPECT_STREQ(arcLocale, "DE_DE");
        EXPECT_STREQ(CodePage, "ISO-8859-1") << "only exact upper-case names force UTF-8";
        EXPECT_EQ(decimal_sep, ',');
        EXPECT_EQ(thousand_sep, L'.');
    }
    LocaleScope dutch("nl_NL");
    EXPECT_EQ(psEnvInit(1), 1);
    EXPECT_STREQ(arcLocale, "") << "an unsupported language leaves the catalog language";
}

TEST(Locale, FormatsFromTheLocaleOrBySelector) {
    LocaleScope us("en_US.UTF-8");
    NLS_NEED_LOCALE(us, "en_US.UTF-8");
    setTimeFmt(0);
    EXPECT_STREQ(time_fmt_str, "%H:%M:%S") << "the twelve-hour shorthand %r is refused";
    EXPECT_STREQ(am_str, "");
    setDateFmt(0);
    EXPECT_STREQ(date_fmt_str, "%m/%d/%Y");
    EXPECT_EQ(date_sep, '/');
    setDateFmt(6);
    EXPECT_STREQ(date_fmt_str, "%Y/%m/%d");
    EXPECT_EQ(date_sep, '/');
    setTimeFmt(5);
    EXPECT_STREQ(time_fmt_str, "%p%I:%M:%S");
    EXPECT_EQ(time_sep, ':');
    EXPECT_STREQ(pm_str, "PM");
    setNumberFmt(6);
    EXPECT_EQ(thousand_sep, L'\'');
    EXPECT_EQ(subsecond_sep, ',');

    LocaleScope german("de_DE.UTF-8");
    NLS_NEED_LOCALE(german, "de_DE.UTF-8");
    setDateFmt(0);
    EXPECT_STREQ(date_fmt_str, "%d.%m.%Y");
    EXPECT_EQ(date_sep, '.');
    setDateFmt(1);
    setTimeFmt(1);
    setNumberFmt(0);
}

}  // namespace
