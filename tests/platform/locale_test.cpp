#include <gtest/gtest.h>

#include <string>

#include "fakes/scoped_env.h"
#include "platform/locale.h"
#include "platform/posix/locale_texts.h"

namespace ktr::platform {
namespace {

LocaleTexts texts(const char* date, const char* time, const char* ampm = "", const char* am = "",
                  const char* pm = "") {
    LocaleTexts t;
    t.date_format = date;
    t.time_format = time;
    t.time_format_ampm = ampm;
    t.am = am;
    t.pm = pm;
    return t;
}

TEST(LocaleFromTexts, UnitedStates) {
    const LocaleInfo l = locale_from_texts(texts("%m/%d/%Y", "%r", "%I:%M:%S %p", "AM", "PM"));
    EXPECT_EQ(l.short_date_pattern, "MM/dd/yyyy");
    EXPECT_EQ(l.long_time_pattern, "hh:mm:ss tt");
    EXPECT_EQ(l.long_date_pattern, "dddd, MMMM d, yyyy");
    EXPECT_EQ(l.date_separator, "/");
    EXPECT_EQ(l.time_separator, ":");
    EXPECT_EQ(short_date_order(l), DateOrder::MonthFirst);
    EXPECT_EQ(l.month_names[0], "January"); // names missing from the texts keep the defaults
}

TEST(LocaleFromTexts, DayFirstAndYearFirstLocales) {
    LocaleTexts german = texts("%d.%m.%Y", "%T");
    german.months = {"Januar", "Februar", "März", "April", "Mai", "Juni",
                     "Juli", "August", "September", "Oktober", "November", "Dezember"};
    const LocaleInfo de = locale_from_texts(german);
    EXPECT_EQ(de.short_date_pattern, "dd.MM.yyyy");
    EXPECT_EQ(de.long_time_pattern, "HH:mm:ss");
    EXPECT_EQ(de.long_date_pattern, "dddd, d MMMM yyyy");
    EXPECT_EQ(de.date_separator, ".");
    EXPECT_EQ(de.month_names[2], "März");
    EXPECT_EQ(short_date_order(de), DateOrder::DayFirst);

    const LocaleInfo gb = locale_from_texts(texts("%d/%m/%y", "%T"));
    EXPECT_EQ(gb.short_date_pattern, "dd/MM/yy");
    EXPECT_EQ(short_date_order(gb), DateOrder::DayFirst);

    const LocaleInfo se = locale_from_texts(texts("%F", "%H.%M.%S"));
    EXPECT_EQ(se.short_date_pattern, "yyyy-MM-dd");
    EXPECT_EQ(se.date_separator, "-");
    EXPECT_EQ(se.time_separator, ".");
    EXPECT_EQ(short_date_order(se), DateOrder::YearFirst);

    const LocaleInfo jp = locale_from_texts(texts("%Y\xE5\xB9\xB4%m\xE6\x9C\x88%d\xE6\x97\xA5", "%H:%M:%S"));
    EXPECT_EQ(jp.date_separator, "\xE5\xB9\xB4"); // a multi-byte separator stays whole
}

TEST(LocaleFromTexts, OddPatternsStayUsable) {
    // A 12-hour pattern without markers would be ambiguous: a 24-hour clock is used instead.
    EXPECT_EQ(locale_from_texts(texts("%d/%m/%Y", "%r", "%I:%M:%S %p")).long_time_pattern, "HH:mm:ss");
    // Empty texts keep the defaults; letters outside fields are quoted; unknown fields are dropped.
    const LocaleInfo empty = locale_from_texts(texts("", ""));
    EXPECT_EQ(empty.short_date_pattern, us_locale().short_date_pattern);
    EXPECT_EQ(empty.long_time_pattern, us_locale().long_time_pattern);
    EXPECT_EQ(locale_from_texts(texts("%-d.%-m.%Y", "%-H h %M")).short_date_pattern, "d.M.yyyy");
    EXPECT_EQ(locale_from_texts(texts("%d.%m.%Y", "%-H h %M %Z")).long_time_pattern, "H 'h' mm");
    EXPECT_EQ(locale_from_texts(texts("%", "%E")).short_date_pattern, us_locale().short_date_pattern);
}

TEST(LocaleOrder, FirstFieldOfTheShortDatePattern) {
    EXPECT_EQ(short_date_order(us_locale()), DateOrder::MonthFirst);
    EXPECT_EQ(short_date_order(british_locale()), DateOrder::DayFirst);
    EXPECT_EQ(short_date_order(iso_locale()), DateOrder::YearFirst);
    LocaleInfo quoted;
    quoted.short_date_pattern = "'day' dd/MM/yyyy";
    EXPECT_EQ(short_date_order(quoted), DateOrder::DayFirst);
}

TEST(SystemLocale, TheCLocaleGivesNoTextsSoUnitedStatesConventionsApply) {
    for (const char* name : {"C", "POSIX", "C.UTF-8"}) {
        testing::ScopedEnv all("LC_ALL", name);
        EXPECT_FALSE(read_system_locale_texts().has_value()) << name;
    }
    testing::ScopedEnv all("LC_ALL", "xx_NOWHERE.UTF-8");
    EXPECT_FALSE(read_system_locale_texts().has_value()); // a locale that cannot be loaded
}

} // namespace
} // namespace ktr::platform
