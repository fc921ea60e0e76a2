#include <gtest/gtest.h>

#include "fakes/scoped_locale.h"
#include "platform/date_value.h"
#include "platform/format.h"

namespace ktr::platform {
namespace {

using testing::ScopedLocale;

TEST(FormatNumber, OptionalDigitsAndAlwaysWrittenPoint) {
    EXPECT_EQ(format_number(12, "#.#"), "12.");
    EXPECT_EQ(format_number(12.34, "#.#"), "12.3");
    EXPECT_EQ(format_number(0, "#.#"), ".");
    EXPECT_EQ(format_number(0.5, "#.00#"), ".50");
    EXPECT_EQ(format_number(1.2345, "#.00#"), "1.235");
    EXPECT_EQ(format_number(3, "#.00#"), "3.00");
    EXPECT_EQ(format_number(0.045, ".###"), ".045");
    EXPECT_EQ(format_number(0.5, ".###"), ".5");
    EXPECT_EQ(format_number(0, ".###"), ".");
    EXPECT_EQ(format_number(0.9996, ".###"), "1.");   // a carry into the whole part is still written
    EXPECT_EQ(format_number(5, "##"), "5");
    EXPECT_EQ(format_number(0, "##"), "");
    EXPECT_EQ(format_number(0.4, "#"), "");
    EXPECT_EQ(format_number(0.5, "#"), "1");
    EXPECT_EQ(format_number(3, "0.#"), "3.");
    EXPECT_EQ(format_number(3.14, "0.#"), "3.1");
}

TEST(FormatNumber, RequiredDigitsPadWithZeros) {
    EXPECT_EQ(format_number(5, "00#"), "005");
    EXPECT_EQ(format_number(45, "00#"), "045");
    EXPECT_EQ(format_number(1234, "00#"), "1234");  // more digits than places are all written
    EXPECT_EQ(format_number(7, "0#"), "07");
    EXPECT_EQ(format_number(7, "#0"), "7");
    EXPECT_EQ(format_number(100, "0000"), "0100");
    EXPECT_EQ(format_number(0, "0"), "0");
    EXPECT_EQ(format_number(2, "0.0##"), "2.0");
    EXPECT_EQ(format_number(1.23456, "0.0##"), "1.235");
    EXPECT_EQ(format_number(0.1, "0.0##"), "0.1");
    EXPECT_EQ(format_number(0.25, "0.0000"), "0.2500");
    EXPECT_EQ(format_number(0.25, ".000"), ".250");
    EXPECT_EQ(format_number(1.0 / 86400, "0.000000"), "0.000012");
    EXPECT_EQ(format_number(1e20, "0"), "100000000000000000000");
}

TEST(FormatNumber, RoundsHalvesAwayFromZeroAtTheLastPlace) {
    EXPECT_EQ(format_number(0.5, "0"), "1");
    EXPECT_EQ(format_number(2.5, "0"), "3");
    EXPECT_EQ(format_number(-2.5, "0"), "-3");
    EXPECT_EQ(format_number(59.5, "0"), "60");
    EXPECT_EQ(format_number(2.25, "0.0"), "2.3");
    EXPECT_EQ(format_number(9.96, "0.0"), "10.0");
    // The decimal the value shows is rounded, not its binary neighbour.
    EXPECT_EQ(format_number(1.0005, "0.000"), "1.001");
    EXPECT_EQ(format_number(2.675, "0.00"), "2.68");
}

TEST(FormatNumber, SignIsDroppedWhenTheValueRoundsToZero) {
    EXPECT_EQ(format_number(-0.0004, "0.0##"), "0.0");
    EXPECT_EQ(format_number(-0.04, "0.0"), "0.0");
    EXPECT_EQ(format_number(-1.5, "0.0"), "-1.5");
    EXPECT_EQ(format_number(-0.5, "#.00#"), "-.50");
}

TEST(FormatNumber, LiteralsAndGroupingAroundThePlaces) {
    EXPECT_EQ(format_number(-5, "$0.00"), "-$5.00");
    EXPECT_EQ(format_number(1.25, "0.0 sec"), "1.3 sec");
    EXPECT_EQ(format_number(1234567, "#,##0"), "1,234,567");
    EXPECT_EQ(format_number(12, "\"n=\"0"), "n=12");
    EXPECT_EQ(format_number(12, ""), "12");
}

class FormatDate : public ::testing::Test {
protected:
    ScopedLocale locale_{us_locale()};
    const double sample_ = make_date(2026, 12, 5, 5, 7, 3);    // a Saturday
    const double afternoon_ = make_date(2022, 7, 26, 12, 28, 48); // a Tuesday
};

TEST_F(FormatDate, NumericPictures) {
    EXPECT_EQ(format_date(sample_, "mm-dd hh:nn:ss"), "12-05 05:07:03");
    EXPECT_EQ(format_date(sample_, "yy-mm-dd"), "26-12-05");
    EXPECT_EQ(format_date(sample_, "mm/dd/yy hh:nn"), "12/05/26 05:07");
    EXPECT_EQ(format_date(sample_, "mm-dd-yy hh:nn:ss"), "12-05-26 05:07:03");
    EXPECT_EQ(format_date(sample_, "hh:nn:ss"), "05:07:03");
    EXPECT_EQ(format_date(afternoon_, "hh:nn:ss"), "12:28:48");
    EXPECT_EQ(format_date(sample_, "d"), "5");
    EXPECT_EQ(format_date(sample_, "yyyy"), "2026");
    EXPECT_EQ(format_date(sample_, "m/d/yyyy h:n:s"), "12/5/2026 5:7:3");
}

TEST_F(FormatDate, MonthLettersAfterAnHourMeanMinutes) {
    EXPECT_EQ(format_date(sample_, "hh:mm:ss"), "05:07:03");
    EXPECT_EQ(format_date(sample_, "YY-MM-DD hh:mm:ss"), "26-12-05 05:07:03");
    EXPECT_EQ(format_date(sample_, "mm hh mm"), "12 05 07");
}

TEST_F(FormatDate, NamesFollowTheLocale) {
    EXPECT_EQ(format_date(sample_, "mmm"), "Dec");
    EXPECT_EQ(format_date(sample_, "dddd"), "Saturday");
    LocaleInfo german = british_locale();
    german.month_abbrevs[11] = "Dez";
    german.month_names[11] = "Dezember";
    german.day_abbrevs[6] = "Sa";
    ScopedLocale scoped(german);
    EXPECT_EQ(format_date(sample_, "mmm"), "Dez");
    EXPECT_EQ(format_date(sample_, "mmmm"), "Dezember");
    EXPECT_EQ(format_date(sample_, "ddd"), "Sa");
}

TEST_F(FormatDate, NamedFormatsUseTheLocalePatterns) {
    EXPECT_EQ(format_date(afternoon_, "Long Date") + " " + format_date(afternoon_, "hh:mm:ss"),
              "Tuesday, July 26, 2022 12:28:48");
    EXPECT_EQ(format_date(afternoon_, "Short Date"), "7/26/2022");
    EXPECT_EQ(format_date(afternoon_, "Long Time"), "12:28:48 PM");
    EXPECT_EQ(format_date(sample_, "Long Time"), "5:07:03 AM");
    EXPECT_EQ(format_date(afternoon_, "Short Time"), "12:28");
    EXPECT_EQ(format_date(afternoon_, "long date"), "Tuesday, July 26, 2022"); // names ignore case
}

TEST_F(FormatDate, GeneralDateLeavesOutMidnightAndTheEmptyDate) {
    EXPECT_EQ(format_date(afternoon_, "General Date"), "7/26/2022 12:28:48 PM");
    EXPECT_EQ(format_date(make_date(2026, 12, 5), "General Date"), "12/5/2026");
    EXPECT_EQ(format_date(0.5, "General Date"), "12:00:00 PM");
    EXPECT_EQ(format_date(0.0, "General Date"), "12:00:00 AM");
    EXPECT_EQ(format_date(time_serial(17, 5, 9), "General Date"), "5:05:09 PM");
    EXPECT_EQ(format_date(afternoon_, ""), "7/26/2022 12:28:48 PM");
    EXPECT_EQ(format_date(afternoon_, "c"), "7/26/2022 12:28:48 PM");
}

TEST_F(FormatDate, OtherLocalesChangeOrderClockAndSeparators) {
    {
        ScopedLocale scoped(british_locale());
        EXPECT_EQ(format_date(afternoon_, "General Date"), "26/07/2022 12:28:48");
        EXPECT_EQ(format_date(sample_, "General Date"), "05/12/2026 05:07:03");
        EXPECT_EQ(format_date(0.75, "General Date"), "18:00:00");
        EXPECT_EQ(format_date(sample_, "mm/dd/yy hh:nn"), "12/05/26 05:07");
    }
    {
        ScopedLocale scoped(iso_locale());
        EXPECT_EQ(format_date(afternoon_, "General Date"), "2022-07-26 12:28:48");
        // "/" in a picture is the locale's date separator.
        EXPECT_EQ(format_date(sample_, "mm/dd/yy hh:nn"), "12-05-26 05:07");
        EXPECT_EQ(format_date(sample_, "mm-dd hh:nn:ss"), "12-05 05:07:03");
    }
}

TEST_F(FormatDate, TwelveHourMarkersAndLiterals) {
    EXPECT_EQ(format_date(afternoon_, "h:nn AM/PM"), "12:28 PM");
    EXPECT_EQ(format_date(make_date(2022, 7, 26, 0, 5), "h:nn am/pm"), "12:05 am");
    EXPECT_EQ(format_date(make_date(2022, 7, 26, 23, 5), "hh:nn a/p"), "11:05 p");
    EXPECT_EQ(format_date(afternoon_, "\"at\" hh\\h"), "at 12h");
}

TEST_F(FormatDate, SecondsAreCutNotRounded) {
    const double almost = make_date(2026, 12, 5, 5, 7, 3, 999);
    EXPECT_EQ(format_date(almost, "hh:nn:ss"), "05:07:03");
    // A value a hair below a whole second (arithmetic on days) still shows that second.
    EXPECT_EQ(format_date(make_date(2026, 12, 5, 8, 0, 0) - 1e-12, "hh:nn:ss"), "08:00:00");
}

TEST_F(FormatDate, CalendarCountsAndBeforeTheEpoch) {
    EXPECT_EQ(format_date(make_date(2026, 12, 31), "y"), "365");
    EXPECT_EQ(format_date(make_date(2024, 12, 31), "y"), "366");
    EXPECT_EQ(format_date(sample_, "w q"), "7 4");
    EXPECT_EQ(format_date(make_date(2026, 1, 3), "ww"), "1");   // 1 January 2026 is a Thursday
    EXPECT_EQ(format_date(make_date(2026, 1, 4), "ww"), "2");
    EXPECT_EQ(format_date(make_date(1899, 12, 29, 6), "yyyy-mm-dd hh:nn"), "1899-12-29 06:00");
    EXPECT_EQ(format_date(make_date(1800, 2, 28, 18), "General Date"), "2/28/1800 6:00:00 PM");
}

} // namespace
} // namespace ktr::platform
