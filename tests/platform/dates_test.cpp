// Date values, their texts in each locale, and the clocks and the dates they can hold.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "fakes/fake_clock.h"
#include "fakes/scoped_env.h"
#include "fakes/scoped_locale.h"
#include "platform/clock.h"
#include "platform/date_parse.h"
#include "platform/date_value.h"
#include "platform/format.h"
#include "platform/locale.h"
#include "platform/win32/zone_rules.h"
#ifdef _WIN32
#include "platform/win32/locale_names.h"
#else
#include "platform/posix/locale_texts.h"
#endif

namespace ktr::platform {
namespace {

TEST(DateValue, KnownDayNumbersRollOverAndParts) {
    const std::pair<double, double> rows[] = {
        {date_serial(1899, 12, 30), 0}, {date_serial(1900, 1, 1), 2}, {date_serial(1900, 3, 1), 61},  // no leap year
        {date_serial(100, 1, 1), kMinDate}, {date_serial(9999, 12, 31), std::floor(kMaxDate)},
        // 3867827328 seconds after 1900 is 2022-07-26 12:28:48.
        {make_date(2022, 7, 26, 12, 28, 48), 3867827328.0 / 86400 + 2},
        // Parts out of range roll over as the runtime's DateSerial and TimeSerial do.
        {date_serial(2026, 13, 1), date_serial(2027, 1, 1)}, {date_serial(2026, -12, 1), date_serial(2024, 12, 1)},
        {date_serial(2024, 3, 0), date_serial(2024, 2, 29)}, {date_serial(2026, 1, 366), date_serial(2027, 1, 1)},
        {time_serial(0, -30, 0), -30.0 / 1440}, {time_serial(25, 0, 1, 500), 25.0 / 24 + 1.5 / 86400},
        // Before the epoch the day counts backwards and the fraction is still the time of day.
        {make_date(1899, 12, 29, 6), -1.25}, {time_part(-1.25), 0.25}, {date_part(-1.25), -1},
    };
    for (const auto& r : rows) EXPECT_DOUBLE_EQ(r.first, r.second) << &r - rows;
    // Parts before the epoch, outside the range and where milliseconds carry.
    const std::pair<double, DateParts> parts[] = {
        {make_date(2026, 12, 5, 5, 7, 3, 45), {2026, 12, 6, 5, 5, 7, 3, 45}},  // 1899-12-30 was a Saturday (6)
        {-1.25, {1899, 12, 5, 29, 6, 0, 0, 0}}, {-0.5, {1899, 12, 6, 30, 12, 0, 0, 0}}, {NAN, {}}, {INFINITY, {}},
        {1e12, {}}, {-1e12, {}},
        {date_serial(2026, 12, 31) + 0.99999999999, {2027, 1, 5, 1, 0, 0, 0, 0}},
        {date_serial(1899, 12, 29) - 0.99999999999, {1899, 12, 4, 28, 0, 0, 0, 0}},
        {make_date(2026, 12, 5, 8) - 1e-12, {2026, 12, 6, 5, 8, 0, 0, 0}},  // a hair below a second is that second
    };
    for (const auto& [value, expected] : parts) EXPECT_EQ(date_to_parts(value), expected) << value;
}

TEST(DateValue, RoundTripsToTheMillisecond) {
    for (double v = kMinDate; v < kMaxDate; v += 9876.54321) {
        const DateParts p = date_to_parts(v);
        EXPECT_NEAR(parts_to_date(p), v, 0.0006 / 86400) << v;
        EXPECT_TRUE(valid_ymd(p.year, p.month, p.day)) << v;
    }
    EXPECT_FALSE(valid_ymd(2026, 2, 29) || valid_ymd(99, 1, 1) || valid_ymd(10000, 1, 1));
}

#ifndef _WIN32
LocaleTexts texts(const char* date, const char* time, const char* ampm = "", const char* am = "",
                  const char* pm = "") {
    return {date, time, ampm, am, pm, {}, {}, {}, {}};
}

TEST(LocaleFromTexts, PatternsOrderSeparatorsAndNamesOfTheCLibrarysTexts) {
    const struct { LocaleTexts texts; const char *short_date, *long_time, *date_separator; DateOrder order; } rows[] = {
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
    // Names are taken only when complete; the C locale gives no texts.
    LocaleTexts german = texts("%d.%m.%Y", "%T");
    german.months = {"Januar", "Februar", "März", "April", "Mai", "Juni", "Juli", "August", "September", "Oktober",
                     "November", "Dezember"};
    german.days[0] = "Sonntag";  // an incomplete set would mix languages
    const LocaleInfo de = locale_from_texts(german);
    EXPECT_EQ(de.month_names[2], "März");
    EXPECT_EQ(de.day_names[0], "Sunday");
    EXPECT_EQ(de.long_date_pattern, "dddd, d MMMM yyyy");
    // So United States conventions apply there.
    for (const char* name : {"C", "POSIX", "C.UTF-8", "xx_NOWHERE.UTF-8"}) {  // the last cannot be loaded
        testing::ScopedEnv all("LC_ALL", name);
        EXPECT_FALSE(read_system_locale_texts().has_value()) << name;
    }
}

#else
// The system's conventions by locale name: the day and month order of its pictures, its names (the system's
// weeks start on Monday, the module's on Sunday) and a 24-hour time where the locale has one. Pictures and
// abbreviations are not pinned: Windows versions and Wine spell some differently.
TEST(LocaleConventions, OrderNamesAndClockOfTheSystemsLocales) {
    const struct { const wchar_t* name; DateOrder order; const char *march, *sunday, *tuesday; bool hour12; } rows[] = {
        {L"en-US", DateOrder::MonthFirst, "March", "Sunday", "Tuesday", true},
        {L"de-DE", DateOrder::DayFirst, "M\xC3\xA4rz", "Sonntag", "Dienstag", false},
        {L"ja-JP", DateOrder::YearFirst, "3\xE6\x9C\x88", "\xE6\x97\xA5\xE6\x9B\x9C\xE6\x97\xA5",
         "\xE7\x81\xAB\xE6\x9B\x9C\xE6\x97\xA5", false},
    };
    for (const auto& r : rows) {
        const auto l = locale_conventions(r.name);
        ASSERT_TRUE(l.has_value());
        EXPECT_EQ(short_date_order(*l), r.order) << l->short_date_pattern;
        EXPECT_EQ(l->month_names[2] + " " + l->day_names[0] + " " + l->day_names[2],
                  std::string(r.march) + " " + r.sunday + " " + r.tuesday);
        EXPECT_EQ(l->long_time_pattern.find('t') != std::string::npos, r.hour12) << l->long_time_pattern;
        for (const auto& abbrev : l->day_abbrevs) EXPECT_FALSE(abbrev.empty());
    }
    EXPECT_FALSE(locale_conventions(L"xx-NOWHERE").has_value());
    // The user's own conventions are always there.
    EXPECT_TRUE(locale_conventions(nullptr).has_value());
}
#endif

using testing::ScopedLocale;

double ymd(int y, int m, int d, int h = 0, int n = 0, int s = 0) { return make_date(y, m, d, h, n, s); }
double hms(int h, int n, int s = 0) { return time_serial(h, n, s); }

// The fake clock stands on 5 December 2026, so texts without a year fall in 2026.
struct DateText : ::testing::Test {
    testing::FakeClock fake_{ymd(2026, 12, 5, 12)};
    testing::ScopedFakeClock clock_{fake_};
    ScopedLocale locale_{us_locale()};
    const double sample_ = ymd(2026, 12, 5, 5, 7, 3);        // a Saturday
    const double afternoon_ = ymd(2022, 7, 26, 12, 28, 48);  // a Tuesday

    // Nothing for a text that is no date.
    static void parses(std::initializer_list<std::pair<const char*, std::optional<double>>> rows) {
        for (const auto& [text, value] : rows) EXPECT_EQ(parse_date(text), value) << '"' << text << '"';
    }
    static void formats(double date, std::initializer_list<std::pair<const char*, const char*>> pictures) {
        for (const auto& [picture, text] : pictures) EXPECT_EQ(format_date(date, picture), text) << picture;
    }
};

// The pictures the module writes.
TEST_F(DateText, PicturesCutSecondsAndNamedFormatsFollowTheLocale) {
    formats(sample_, {{"mm-dd hh:nn:ss", "12-05 05:07:03"}, {"yy-mm-dd", "26-12-05"}, {"m/d/yy", "12/5/26"},
                      {"mm/dd/yy hh:nn", "12/05/26 05:07"}, {"d", "5"}, {"yyyy", "2026"}, {"mmm", "Dec"},
                      // Month letters after an hour mean minutes.
                      {"hh:mm:ss", "05:07:03"}, {"mm hh mm", "12 05 07"}});
    // Seconds are cut, not rounded, also a hair below a whole second (arithmetic on days).
    formats(make_date(2026, 12, 5, 5, 7, 3, 999), {{"hh:nn:ss", "05:07:03"}});
    formats(ymd(2026, 12, 5, 8) - 1e-12, {{"hh:nn:ss", "08:00:00"}});
    // Named formats and the general date follow the locale.
    formats(afternoon_, {{"Long Date", "Tuesday, July 26, 2022"}, {"General Date", "7/26/2022 12:28:48 PM"}});
    // The general date leaves out midnight and the empty date.
    formats(ymd(2026, 12, 5), {{"General Date", "12/5/2026"}});
    formats(0.0, {{"General Date", "12:00:00 AM"}});
    formats(ymd(1800, 2, 28, 18), {{"General Date", "2/28/1800 6:00:00 PM"}});
    {
        ScopedLocale scoped(british_locale());
        formats(afternoon_, {{"General Date", "26/07/2022 12:28:48"}});
        formats(0.75, {{"General Date", "18:00:00"}});
    }
    ScopedLocale scoped(iso_locale());
    formats(afternoon_, {{"General Date", "2022-07-26 12:28:48"}});
    formats(sample_, {{"mm/dd/yy hh:nn", "12-05-26 05:07"}});  // "/" is the locale's date separator
}

TEST_F(DateText, UnitedStatesDatesAreMonthFirstShortYearsPivotAtThirtyAndMarkersAreRead) {
    parses({{"12/05/2026 05:37:32", ymd(2026, 12, 5, 5, 37, 32)}, {"12-05-2026", ymd(2026, 12, 5)},
            {"12.05.2026", ymd(2026, 12, 5)}, {" 12/5/2026 5:07:03 ", ymd(2026, 12, 5, 5, 7, 3)},
            {"5:07:03 12/5/2026", ymd(2026, 12, 5, 5, 7, 3)},
            {"13/5/2020", ymd(2020, 5, 13)},  // the first number cannot be a month: the two are swapped
            {"2/29/2024", ymd(2024, 2, 29)}, {"2/29/2026", {}}, {"13/13/2020", {}},
            {"12/5", ymd(2026, 12, 5)}, {"13/5", ymd(2026, 5, 13)}, {"12/2026", ymd(2026, 12, 1)},
            {"2026-12", ymd(2026, 12, 1)},
            // Two-digit years pivot at 30; four digits are taken as written (year 99 is out of range).
            {"1/1/00", ymd(2000, 1, 1)}, {"1/1/29", ymd(2029, 1, 1)}, {"1/1/30", ymd(1930, 1, 1)},
            {"1/1/5", ymd(2005, 1, 1)}, {"12/31/9999", ymd(9999, 12, 31)}, {"1/1/10000", {}}, {"1/1/0099", {}},
            // Times alone and twelve-hour markers.
            {"12:00:00 AM", 0.0}, {"12:00:00 PM", 0.5}, {"5:07", hms(5, 7)}, {"5:07:03 pm", hms(17, 7, 3)},
            {"11:59 P", hms(23, 59)}, {"3 PM", hms(15, 0)}, {"12/5/2026 3 PM", ymd(2026, 12, 5, 15)},
            {"7/26/2022 12:28:48 PM", ymd(2022, 7, 26, 12, 28, 48)},
            {"12/5/2026 05:37:32 ", ymd(2026, 12, 5, 5, 37, 32)},  // an empty marker after the blank
            {"0:0:0", 0.0}});
}

TEST_F(DateText, MonthNamesInAnyPositionAndTextsThatAreNotDates) {
    for (const char* text : {"Dec 5, 2026", "5 Dec 2026", "dec 5, 2026", "DECEMBER 05, 2026", "2026 Dec 5",
                             "5-Dec-2026", "Dec 5, 26", "Saturday, December 5, 2026", "Decem 5 2026", "Dec 5"})
        EXPECT_EQ(parse_date(text), ymd(2026, 12, 5)) << text;
    parses({{"Sept 30 2026", ymd(2026, 9, 30)}, {"Dec 5, 2026 05:37:32 ", ymd(2026, 12, 5, 5, 37, 32)},
            {"Dec 2026", ymd(2026, 12, 1)}, {"Feb 30, 2026", {}}, {"Dec Jan 5 2026", {}}, {"Dec", {}},
            {"De 5 2026", {}}});
    for (const char* text : {"", " ", "abc", "5", "25:00", "12:60", "12:00:60", "1:2:3:4", "1/2/3/4",
                             "12/5/2026 UTC", "AM", "12/5/2026 PM", "05:37:32.5", "12:", ":30", "5:07 AM PM",
                             "12/5/2026 5:07 6:08", "2026/1/2026", "1234567/1/1", "12/5/2026!", "UTC(NIST)", "*"})
        EXPECT_EQ(parse_date(text), std::nullopt) << '"' << text << '"';
    // A four-digit year put in front of a whole date is no date.
    EXPECT_FALSE(is_date("2012/05/2026 05:37:32"));
    EXPECT_TRUE(is_date("2025-12-05 05:37:32"));
}

TEST_F(DateText, OtherLocalesReadDayFirstOrYearFirstAndTheirOwnNames) {
    {
        ScopedLocale scoped(british_locale());
        parses({{"12/5/2026", ymd(2026, 5, 12)}, {"5/13/2020", ymd(2020, 5, 13)},
                {"05/12/26 17:05", ymd(2026, 12, 5, 17, 5)}, {"5/12", ymd(2026, 12, 5)},
                {"5 December 2026", ymd(2026, 12, 5)}, {"5:07 pm", hms(17, 7)}});
    }
    {
        ScopedLocale scoped(iso_locale());
        parses({{"26-12-05", ymd(2026, 12, 5)}, {"5/12/2026 5:07:03", ymd(2026, 12, 5, 5, 7, 3)},
                {"5/13/2026", ymd(2026, 5, 13)}});
    }
    // The locale's names and markers are written and read.
    LocaleInfo german = british_locale();
    german.short_date_pattern = "dd.MM.yyyy";
    german.month_names[2] = "März";
    german.month_names[11] = "Dezember";
    german.month_abbrevs[11] = "Dez";
    german.day_abbrevs[6] = "Sa";
    german.am = "vorm.";
    german.pm = "nachm.";
    ScopedLocale scoped(german);
    formats(sample_, {{"mmm", "Dez"}, {"mmmm", "Dezember"}, {"ddd", "Sa"}});
    parses({{"5. Dez 2026", ymd(2026, 12, 5)}, {"Sa 5 Dezember 2026", ymd(2026, 12, 5)},
            {"1 März 2026", ymd(2026, 3, 1)}, {"Dec 5, 2026", ymd(2026, 12, 5)},  // English names always work
            {"05.12.2026 17:05:00", ymd(2026, 12, 5, 17, 5)}, {"5:07 nachm.", hms(17, 7)}, {"12:07 vorm.", hms(0, 7)}});
}

// What the module writes as a general date must read back as the same value in each locale; ISO dates are
// read everywhere.
TEST_F(DateText, GeneralDateTextsReadBackAndIsoDatesEverywhere) {
    const double values[] = {afternoon_, ymd(2026, 12, 5), ymd(2001, 1, 1, 0, 0, 1), ymd(2029, 12, 31, 23, 59, 59),
                             hms(17, 5, 9), ymd(1930, 2, 3, 4, 5, 6), ymd(1800, 2, 28, 18)};
    std::vector<LocaleInfo> locales{us_locale(), british_locale(), iso_locale()};
#ifdef _WIN32
    // And as the system gives them: day first with dots, no marker, names of its own.
    for (const wchar_t* name : {L"de-DE", L"fr-FR"}) locales.push_back(locale_conventions(name).value_or(us_locale()));
#endif
    for (const LocaleInfo& loc : locales) {
        ScopedLocale scoped(loc);
        for (double v : values) EXPECT_EQ(parse_date(format_date(v, "General Date")), v) << format_date(v, "");
        EXPECT_EQ(parse_date(format_date(ymd(2022, 7, 26), "Long Date")), ymd(2022, 7, 26)) << loc.short_date_pattern;
        parses({{"2025-12-05 05:37:32", ymd(2025, 12, 5, 5, 37, 32)}, {"2025/12/05", ymd(2025, 12, 5)},
                {"2025-13-05", {}}});
    }
}

// Dates outside it are refused before they reach a clock (the hostile-input end-to-end test sends one).
TEST(ClockRange, TheRangeEndsWhereClocksDo) {
    const std::pair<double, bool> rows[] = {
        {make_date(1969, 12, 31, 23, 59, 59), false}, {make_date(1970, 1, 1), true},
        {make_date(2261, 12, 31, 23, 59, 59), true},  {make_date(2262, 1, 1), false},
        {make_date(9999, 12, 26), false},
    };
    for (const auto& [date, holds] : rows) EXPECT_EQ(clock_can_hold(date), holds) << date;
}

// The Windows clock reads a local time by probing the zone from UTC; a made-up zone one hour east of UTC
// that keeps daylight time (two hours east) from hour 1000 to hour 2000 UTC, in ticks of 100 ns.
TEST(ZoneRules, LocalTimesAcrossTheClockChanges) {
    constexpr int64_t h = 36000000000LL, m = h / 60;
    const LocalTimeOf zone = [](int64_t moment) -> std::optional<int64_t> {
        if (moment < 0) return std::nullopt;
        return moment + (moment >= 1000 * h && moment < 2000 * h ? 2 * h : h);
    };
    const std::pair<int64_t, int64_t> rows[] = {
        {500 * h + 7 * m, 499 * h + 7 * m}, {1500 * h, 1498 * h},  // standard and daylight time
        {1000 * h + 59 * m, 999 * h + 59 * m}, {1002 * h, 1000 * h},  // either side of the change forward
        // Local 1001:00 to 1001:59 never occurs: read with the offset before, it lands past the change.
        {1001 * h, 1000 * h}, {1001 * h + 30 * m, 1000 * h + 30 * m},
        // Local 2001:00 to 2001:59 occurs twice: the first time counts.
        {2001 * h + 30 * m, 1999 * h + 30 * m}, {2000 * h + 59 * m, 1998 * h + 59 * m}, {2002 * h, 2001 * h},
    };
    for (const auto& [local, moment] : rows) EXPECT_EQ(moment_of_local(local, zone), moment) << local / m;
    EXPECT_FALSE(moment_of_local(-5 * kTicksPerDay, zone).has_value());  // before the system's first moment
}

} // namespace
} // namespace ktr::platform
