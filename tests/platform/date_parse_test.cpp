#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "fakes/fake_clock.h"
#include "fakes/scoped_locale.h"
#include "platform/date_parse.h"
#include "platform/date_value.h"
#include "platform/format.h"

namespace ktr::platform {
namespace {

using testing::ScopedLocale;

double ymd(int y, int m, int d, int h = 0, int n = 0, int s = 0) { return make_date(y, m, d, h, n, s); }
double hms(int h, int n, int s = 0) { return time_serial(h, n, s); }

struct Row {
    const char* text;
    std::optional<double> value;  // nothing: not a date
};

// The fake clock stands on 5 December 2026, so texts without a year fall in 2026.
class DateParse : public ::testing::Test {
protected:
    testing::FakeClock fake_{make_date(2026, 12, 5, 12)};
    testing::ScopedFakeClock clock_{fake_};
    ScopedLocale locale_{us_locale()};

    static void expect(std::initializer_list<Row> rows) {
        for (const Row& r : rows) EXPECT_EQ(parse_date(r.text), r.value) << '"' << r.text << '"';
    }
};

TEST_F(DateParse, UnitedStatesNumericDatesAreMonthFirstAndShortYearsPivotAtThirty) {
    expect({{"12/05/2026 05:37:32", ymd(2026, 12, 5, 5, 37, 32)}, {"12-05-2026", ymd(2026, 12, 5)},
            {"12.05.2026", ymd(2026, 12, 5)}, {" 12/5/2026 5:07:03 ", ymd(2026, 12, 5, 5, 7, 3)},
            {"5:07:03 12/5/2026", ymd(2026, 12, 5, 5, 7, 3)},
            {"13/5/2020", ymd(2020, 5, 13)},  // the first number cannot be a month: the two are swapped
            {"2/29/2024", ymd(2024, 2, 29)}, {"2/29/2026", {}}, {"13/13/2020", {}},
            {"12/5", ymd(2026, 12, 5)}, {"13/5", ymd(2026, 5, 13)}, {"12/2026", ymd(2026, 12, 1)},
            {"2026-12", ymd(2026, 12, 1)},
            // Two-digit years pivot at 30; four digits are taken as written (year 99 is out of range).
            {"1/1/00", ymd(2000, 1, 1)}, {"1/1/29", ymd(2029, 1, 1)}, {"1/1/30", ymd(1930, 1, 1)},
            {"1/1/5", ymd(2005, 1, 1)}, {"12/31/9999", ymd(9999, 12, 31)}, {"1/1/10000", {}}, {"1/1/0099", {}}});
}

TEST_F(DateParse, MonthNamesInAnyPosition) {
    for (const char* text : {"Dec 5, 2026", "5 Dec 2026", "dec 5, 2026", "DECEMBER 05, 2026", "2026 Dec 5",
                             "5-Dec-2026", "Dec 5, 26", "Saturday, December 5, 2026", "Decem 5 2026", "Dec 5"})
        EXPECT_EQ(parse_date(text), ymd(2026, 12, 5)) << text;
    expect({{"Sept 30 2026", ymd(2026, 9, 30)}, {"Dec 5, 2026 05:37:32 ", ymd(2026, 12, 5, 5, 37, 32)},
            {"Dec 2026", ymd(2026, 12, 1)}, {"Feb 30, 2026", {}}, {"Dec Jan 5 2026", {}}, {"Dec", {}},
            {"De 5 2026", {}}});
}

TEST_F(DateParse, TimesAloneAndTwelveHourMarkers) {
    expect({{"12:00:00 AM", 0.0}, {"12:00:00 PM", 0.5}, {"5:07", hms(5, 7)}, {"5:07:03 pm", hms(17, 7, 3)},
            {"11:59 P", hms(23, 59)}, {"3 PM", hms(15, 0)}, {"12/5/2026 3 PM", ymd(2026, 12, 5, 15)},
            {"7/26/2022 12:28:48 PM", ymd(2022, 7, 26, 12, 28, 48)},
            {"12/5/2026 05:37:32 ", ymd(2026, 12, 5, 5, 37, 32)},  // an empty marker after the blank
            {"0:0:0", 0.0}});
}

TEST_F(DateParse, TextsThatAreNotDates) {
    for (const char* text : {"", " ", "abc", "5", "25:00", "12:60", "12:00:60", "1:2:3:4", "1/2/3/4",
                             "12/5/2026 UTC", "AM", "12/5/2026 PM", "05:37:32.5", "12:", ":30", "5:07 AM PM",
                             "12/5/2026 5:07 6:08", "2026/1/2026", "1234567/1/1", "12/5/2026!", "UTC(NIST)", "*"})
        EXPECT_EQ(parse_date(text), std::nullopt) << '"' << text << '"';
    // A four-digit year put in front of a whole date is no date.
    EXPECT_FALSE(is_date("2012/05/2026 05:37:32"));
    EXPECT_TRUE(is_date("2025-12-05 05:37:32"));
}

TEST_F(DateParse, OtherLocalesReadDayFirstOrYearFirstAndIsoDatesEverywhere) {
    for (const LocaleInfo& loc : {us_locale(), british_locale(), iso_locale()}) {
        ScopedLocale scoped(loc);
        EXPECT_EQ(parse_date("2025-12-05 05:37:32"), ymd(2025, 12, 5, 5, 37, 32)) << loc.short_date_pattern;
        EXPECT_EQ(parse_date("2025/12/05"), ymd(2025, 12, 5)) << loc.short_date_pattern;
        EXPECT_EQ(parse_date("2025-13-05"), std::nullopt) << loc.short_date_pattern;
    }
    {
        ScopedLocale scoped(british_locale());
        expect({{"12/5/2026", ymd(2026, 5, 12)}, {"5/13/2020", ymd(2020, 5, 13)},
                {"05/12/26 17:05", ymd(2026, 12, 5, 17, 5)}, {"5/12", ymd(2026, 12, 5)},
                {"5 December 2026", ymd(2026, 12, 5)}, {"5:07 pm", hms(17, 7)}});
    }
    ScopedLocale scoped(iso_locale());
    expect({{"26-12-05", ymd(2026, 12, 5)}, {"5/12/2026 5:07:03", ymd(2026, 12, 5, 5, 7, 3)},
            {"5/13/2026", ymd(2026, 5, 13)}});
}

TEST_F(DateParse, TheLocalesNamesAndMarkers) {
    LocaleInfo german = british_locale();
    german.short_date_pattern = "dd.MM.yyyy";
    german.month_names[2] = "März";
    german.month_names[11] = "Dezember";
    german.month_abbrevs[11] = "Dez";
    german.day_abbrevs[6] = "Sa";
    german.am = "vorm.";
    german.pm = "nachm.";
    ScopedLocale scoped(german);
    expect({{"5. Dez 2026", ymd(2026, 12, 5)}, {"Sa 5 Dezember 2026", ymd(2026, 12, 5)},
            {"1 März 2026", ymd(2026, 3, 1)}, {"Dec 5, 2026", ymd(2026, 12, 5)},  // English names always work
            {"05.12.2026 17:05:00", ymd(2026, 12, 5, 17, 5)}, {"5:07 nachm.", hms(17, 7)}, {"12:07 vorm.", hms(0, 7)}});
}

// What the module writes as a general date must read back as the same value in each locale.
TEST_F(DateParse, GeneralDateTextsReadBack) {
    const double values[] = {ymd(2022, 7, 26, 12, 28, 48), ymd(2026, 12, 5), ymd(2001, 1, 1, 0, 0, 1),
                             ymd(2029, 12, 31, 23, 59, 59), hms(17, 5, 9), ymd(1930, 2, 3, 4, 5, 6),
                             ymd(1800, 2, 28, 18)};
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

} // namespace
} // namespace ktr::platform
