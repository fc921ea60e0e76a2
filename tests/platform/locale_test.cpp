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

TEST(LocaleFromTexts, PatternsOrderAndSeparatorsOfTheCLibrarysTexts) {
    const struct {
        LocaleTexts texts;
        const char* short_date;
        const char* long_time;
        const char* date_separator;
        DateOrder order;
    } rows[] = {
        {texts("%m/%d/%Y", "%r", "%I:%M:%S %p", "AM", "PM"), "MM/dd/yyyy", "hh:mm:ss tt", "/", DateOrder::MonthFirst},
        {texts("%d.%m.%Y", "%T"), "dd.MM.yyyy", "HH:mm:ss", ".", DateOrder::DayFirst},
        {texts("%F", "%H.%M.%S"), "yyyy-MM-dd", "HH.mm.ss", "-", DateOrder::YearFirst},
        // A multi-byte separator stays whole.
        {texts("%Y\xE5\xB9\xB4%m\xE6\x9C\x88%d\xE6\x97\xA5", "%T"), "yyyy\xE5\xB9\xB4MM\xE6\x9C\x88" "dd\xE6\x97\xA5",
         "HH:mm:ss", "\xE5\xB9\xB4", DateOrder::YearFirst},
        // A 12-hour pattern without markers would be ambiguous: a 24-hour clock is used instead.
        {texts("%d/%m/%Y", "%r", "%I:%M:%S %p"), "dd/MM/yyyy", "HH:mm:ss", "/", DateOrder::DayFirst},
        // Letters outside fields are quoted; unknown fields are dropped; empty texts keep the defaults.
        {texts("%-d.%-m.%Y", "%-H h %M %Z"), "d.M.yyyy", "H 'h' mm", ".", DateOrder::DayFirst},
        {texts("", ""), "M/d/yyyy", "h:mm:ss tt", "/", DateOrder::MonthFirst},
        {texts("%", "%E"), "M/d/yyyy", "h:mm:ss tt", "/", DateOrder::MonthFirst},
    };
    for (const auto& r : rows) {
        const LocaleInfo l = locale_from_texts(r.texts);
        EXPECT_EQ(l.short_date_pattern, r.short_date) << r.texts.date_format;
        EXPECT_EQ(l.long_time_pattern, r.long_time) << r.texts.time_format;
        EXPECT_EQ(l.date_separator, r.date_separator) << r.texts.date_format;
        EXPECT_EQ(short_date_order(l), r.order) << r.texts.date_format;
    }
}

TEST(LocaleFromTexts, NamesAreTakenOnlyWhenComplete) {
    LocaleTexts german = texts("%d.%m.%Y", "%T");
    german.months = {"Januar", "Februar", "März", "April", "Mai", "Juni",
                     "Juli", "August", "September", "Oktober", "November", "Dezember"};
    german.days[0] = "Sonntag";  // an incomplete set would mix languages
    const LocaleInfo de = locale_from_texts(german);
    EXPECT_EQ(de.month_names[2], "März");
    EXPECT_EQ(de.day_names[0], "Sunday");
    EXPECT_EQ(de.long_date_pattern, "dddd, d MMMM yyyy");
}

TEST(SystemLocale, TheCLocaleGivesNoTextsSoUnitedStatesConventionsApply) {
    for (const char* name : {"C", "POSIX", "C.UTF-8", "xx_NOWHERE.UTF-8"}) {  // the last cannot be loaded
        testing::ScopedEnv all("LC_ALL", name);
        EXPECT_FALSE(read_system_locale_texts().has_value()) << name;
    }
}

} // namespace
} // namespace ktr::platform
