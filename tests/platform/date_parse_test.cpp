#include <gtest/gtest.h>

#include <string>

#include "fakes/fake_clock.h"
#include "fakes/scoped_locale.h"
#include "platform/date_parse.h"
#include "platform/date_value.h"
#include "platform/format.h"
#include "platform/posix/locale_texts.h"

namespace ktr::platform {
namespace {

using testing::ScopedLocale;

// The fake clock stands on 5 December 2026, so texts without a year fall in 2026.
class DateParse : public ::testing::Test {
protected:
    testing::FakeClock fake_{make_date(2026, 12, 5, 12)};
    testing::ScopedFakeClock clock_{fake_};
    ScopedLocale locale_{us_locale()};

    static double ymd(int y, int m, int d, int h = 0, int n = 0, int s = 0) { return make_date(y, m, d, h, n, s); }
};

TEST_F(DateParse, UnitedStatesNumericDatesAreMonthFirst) {
    EXPECT_EQ(parse_date("12/5/2026"), ymd(2026, 12, 5));
    EXPECT_EQ(parse_date("12/05/2026 05:37:32"), ymd(2026, 12, 5, 5, 37, 32));
    EXPECT_EQ(parse_date("12-05-2026"), ymd(2026, 12, 5));
    EXPECT_EQ(parse_date("12.05.2026"), ymd(2026, 12, 5));
    EXPECT_EQ(parse_date(" 12/5/2026 5:07:03 "), ymd(2026, 12, 5, 5, 7, 3));
    EXPECT_EQ(parse_date("5:07:03 12/5/2026"), ymd(2026, 12, 5, 5, 7, 3));
    // When the first number cannot be a month the two are swapped.
    EXPECT_EQ(parse_date("13/5/2020"), ymd(2020, 5, 13));
    EXPECT_EQ(parse_date("2/29/2024"), ymd(2024, 2, 29));
    EXPECT_EQ(parse_date("2/29/2026"), std::nullopt);
    EXPECT_EQ(parse_date("13/13/2020"), std::nullopt);
}

TEST_F(DateParse, TwoDigitYearsPivotAtThirty) {
    EXPECT_EQ(parse_date("12/5/26"), ymd(2026, 12, 5));
    EXPECT_EQ(parse_date("1/1/00"), ymd(2000, 1, 1));
    EXPECT_EQ(parse_date("1/1/29"), ymd(2029, 1, 1));
    EXPECT_EQ(parse_date("1/1/30"), ymd(1930, 1, 1));
    EXPECT_EQ(parse_date("1/1/99"), ymd(1999, 1, 1));
    EXPECT_EQ(parse_date("1/1/5"), ymd(2005, 1, 1));
    EXPECT_EQ(parse_date("1/1/0099"), std::nullopt); // four digits are taken as written: year 99
    EXPECT_EQ(parse_date("12/31/9999"), ymd(9999, 12, 31));
    EXPECT_EQ(parse_date("1/1/10000"), std::nullopt);
}

TEST_F(DateParse, MonthNamesInAnyPosition) {
    const double want = ymd(2026, 12, 5);
    for (const char* text : {"Dec 5, 2026", "5 Dec 2026", "December 5 2026", "dec 5, 2026", "DECEMBER 05, 2026",
                             "2026 Dec 5", "5-Dec-2026", "Dec 5, 26", "Sat Dec 5 2026", "Saturday, December 5, 2026",
                             "Decem 5 2026"})
        EXPECT_EQ(parse_date(text), want) << text;
    EXPECT_EQ(parse_date("Sept 30 2026"), ymd(2026, 9, 30));
    EXPECT_EQ(parse_date("Dec 5, 2026 05:37:32 "), ymd(2026, 12, 5, 5, 37, 32));
    EXPECT_EQ(parse_date("Dec 5"), want);           // this year
    EXPECT_EQ(parse_date("Dec 2026"), ymd(2026, 12, 1));
    EXPECT_EQ(parse_date("Feb 30, 2026"), std::nullopt);
    EXPECT_EQ(parse_date("Dec Jan 5 2026"), std::nullopt);
    EXPECT_EQ(parse_date("Dec"), std::nullopt);
    EXPECT_EQ(parse_date("De 5 2026"), std::nullopt);
}

TEST_F(DateParse, TwoNumbersMakeMonthAndDayOrMonthAndYear) {
    EXPECT_EQ(parse_date("12/5"), ymd(2026, 12, 5));
    EXPECT_EQ(parse_date("13/5"), ymd(2026, 5, 13));
    EXPECT_EQ(parse_date("12/2026"), ymd(2026, 12, 1));
    EXPECT_EQ(parse_date("2026-12"), ymd(2026, 12, 1));
}

TEST_F(DateParse, IsoDatesInEveryLocale) {
    for (const LocaleInfo& loc : {us_locale(), british_locale(), iso_locale()}) {
        ScopedLocale scoped(loc);
        EXPECT_EQ(parse_date("2025-12-05 05:37:32"), ymd(2025, 12, 5, 5, 37, 32)) << loc.short_date_pattern;
        EXPECT_EQ(parse_date("2025/12/05"), ymd(2025, 12, 5)) << loc.short_date_pattern;
        EXPECT_EQ(parse_date("2025-13-05"), std::nullopt) << loc.short_date_pattern;
    }
}

TEST_F(DateParse, TimesAloneAndTwelveHourMarkers) {
    EXPECT_EQ(parse_date("12:00:00 AM"), 0.0);
    EXPECT_EQ(parse_date("12:00:00 PM"), 0.5);
    EXPECT_EQ(parse_date("5:07"), time_serial(5, 7, 0));
    EXPECT_EQ(parse_date("05:37:32"), time_serial(5, 37, 32));
    EXPECT_EQ(parse_date("5:07:03 pm"), time_serial(17, 7, 3));
    EXPECT_EQ(parse_date("11:59 P"), time_serial(23, 59, 0));
    EXPECT_EQ(parse_date("3 PM"), time_serial(15, 0, 0));
    EXPECT_EQ(parse_date("12/5/2026 3 PM"), ymd(2026, 12, 5, 15));
    EXPECT_EQ(parse_date("7/26/2022 12:28:48 PM"), ymd(2022, 7, 26, 12, 28, 48));
    EXPECT_EQ(parse_date("12/5/2026 05:37:32 "), ymd(2026, 12, 5, 5, 37, 32)); // an empty marker after the blank
    EXPECT_EQ(parse_date("23:59:59"), time_serial(23, 59, 59));
    EXPECT_EQ(parse_date("0:0:0"), 0.0);
}

TEST_F(DateParse, TextsThatAreNotDates) {
    for (const char* text : {"", " ", "abc", "5", "12", "25:00", "12:60", "12:00:60", "1:2:3:4", "1/2/3/4",
                             "12/5/2026 UTC", "AM", "12/5/2026 PM", "05:37:32.5", "12:", ":30", "5:07 AM PM",
                             "12/5/2026 5:07 6:08", "1/1/1/2026", "2026/1/2026", "1234567/1/1", "12/5/2026!",
                             "99/99/99", "UTC(NIST)", "*", "tovanisoft:"})
        EXPECT_EQ(parse_date(text), std::nullopt) << '"' << text << '"';
    // A four-digit year put in front of a whole date is no date.
    EXPECT_FALSE(is_date("2012/05/2026 05:37:32"));
    EXPECT_TRUE(is_date("2025-12-05 05:37:32"));
}

TEST_F(DateParse, BritishNumericDatesAreDayFirst) {
    ScopedLocale scoped(british_locale());
    EXPECT_EQ(parse_date("5/12/2026"), ymd(2026, 12, 5));
    EXPECT_EQ(parse_date("12/5/2026"), ymd(2026, 5, 12));
    EXPECT_EQ(parse_date("5/13/2020"), ymd(2020, 5, 13)); // the second number cannot be a month: swapped
    EXPECT_EQ(parse_date("05/12/26 17:05"), ymd(2026, 12, 5, 17, 5));
    EXPECT_EQ(parse_date("5/12"), ymd(2026, 12, 5));
    EXPECT_EQ(parse_date("Dec 5, 2026"), ymd(2026, 12, 5));
    EXPECT_EQ(parse_date("5 December 2026"), ymd(2026, 12, 5));
    EXPECT_EQ(parse_date("5:07 pm"), time_serial(17, 7, 0));
}

TEST_F(DateParse, IsoLocaleReadsYearFirstAndDayFirstAfterAYear) {
    ScopedLocale scoped(iso_locale());
    EXPECT_EQ(parse_date("2026-12-05"), ymd(2026, 12, 5));
    EXPECT_EQ(parse_date("26-12-05"), ymd(2026, 12, 5));
    EXPECT_EQ(parse_date("5/12/2026 5:07:03"), ymd(2026, 12, 5, 5, 7, 3));
    EXPECT_EQ(parse_date("5/13/2026"), ymd(2026, 5, 13));
}

TEST_F(DateParse, LocaleNamesAndMarkers) {
    LocaleTexts texts;
    texts.date_format = "%d.%m.%Y";
    texts.time_format = "%T";
    texts.months = {"Januar", "Februar", "März", "April", "Mai", "Juni",
                    "Juli", "August", "September", "Oktober", "November", "Dezember"};
    texts.month_abbrevs = {"Jan", "Feb", "Mär", "Apr", "Mai", "Jun", "Jul", "Aug", "Sep", "Okt", "Nov", "Dez"};
    texts.days = {"Sonntag", "Montag", "Dienstag", "Mittwoch", "Donnerstag", "Freitag", "Samstag"};
    texts.day_abbrevs = {"So", "Mo", "Di", "Mi", "Do", "Fr", "Sa"};
    ScopedLocale scoped(locale_from_texts(texts));
    EXPECT_EQ(parse_date("5. Dez 2026"), ymd(2026, 12, 5));
    EXPECT_EQ(parse_date("Sa 5 Dezember 2026"), ymd(2026, 12, 5));
    EXPECT_EQ(parse_date("1 März 2026"), ymd(2026, 3, 1));
    EXPECT_EQ(parse_date("Dec 5, 2026"), ymd(2026, 12, 5)); // English names are always understood
    EXPECT_EQ(parse_date("05.12.2026 17:05:00"), ymd(2026, 12, 5, 17, 5));

    LocaleInfo marked = us_locale();
    marked.am = "vorm.";
    marked.pm = "nachm.";
    ScopedLocale scoped_marks(marked);
    EXPECT_EQ(parse_date("5:07 nachm."), time_serial(17, 7, 0));
    EXPECT_EQ(parse_date("12:07 vorm."), time_serial(0, 7, 0));
}

// What the module writes as a general date must read back as the same value in each locale.
TEST_F(DateParse, GeneralDateTextsReadBack) {
    const double values[] = {ymd(2022, 7, 26, 12, 28, 48), ymd(2026, 12, 5), ymd(2001, 1, 1, 0, 0, 1),
                             ymd(2029, 12, 31, 23, 59, 59), time_serial(17, 5, 9), ymd(1930, 2, 3, 4, 5, 6),
                             ymd(2026, 12, 5, 5, 7, 3)};
    for (const LocaleInfo& loc : {us_locale(), british_locale(), iso_locale()}) {
        ScopedLocale scoped(loc);
        for (double v : values) {
            const std::string text = format_date(v, "General Date");
            EXPECT_EQ(parse_date(text), v) << text;
        }
        const double long_day = ymd(2022, 7, 26);
        EXPECT_EQ(parse_date(format_date(long_day, "Long Date")), long_day) << format_date(long_day, "Long Date");
    }
}

TEST_F(DateParse, DatesBeforeTheEpochKeepTheirTimeOfDay) {
    const auto v = parse_date("2/28/1800 6:00 PM");
    ASSERT_TRUE(v.has_value());
    const DateParts p = date_to_parts(*v);
    EXPECT_EQ(p.year, 1800);
    EXPECT_EQ(p.day, 28);
    EXPECT_EQ(p.hour, 18);
}

} // namespace
} // namespace ktr::platform
