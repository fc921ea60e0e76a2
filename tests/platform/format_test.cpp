#include <gtest/gtest.h>

#include "fakes/scoped_locale.h"
#include "platform/date_value.h"
#include "platform/format.h"

namespace ktr::platform {
namespace {

using testing::ScopedLocale;

TEST(FormatNumber, PicturesAsTheRuntimeWritesThem) {
    const struct {
        double value;
        const char* picture;
        const char* text;
    } rows[] = {
        // Optional digits; a point in the picture is always written.
        {12, "#.#", "12."}, {12.34, "#.#", "12.3"}, {0, "#.#", "."}, {0.5, "#.00#", ".50"}, {1.2345, "#.00#", "1.235"},
        {0.045, ".###", ".045"}, {0, ".###", "."}, {0.9996, ".###", "1."}, {0, "##", ""}, {0.4, "#", ""},
        // Required digits pad with zeros; more digits than places are all written.
        {5, "00#", "005"}, {1234, "00#", "1234"}, {7, "0#", "07"}, {7, "#0", "7"}, {100, "0000", "0100"},
        {2, "0.0##", "2.0"}, {1.23456, "0.0##", "1.235"}, {0.25, ".000", ".250"}, {1.0 / 86400, "0.000000", "0.000012"},
        {1e20, "0", "100000000000000000000"},
        // Halves round away from zero at the last place, on the decimal the value shows.
        {2.5, "0", "3"}, {-2.5, "0", "-3"}, {59.5, "0", "60"}, {9.96, "0.0", "10.0"}, {1.0005, "0.000", "1.001"},
        {2.675, "0.00", "2.68"},
        // The sign goes when the value rounds to zero.
        {-0.0004, "0.0##", "0.0"}, {-0.04, "0.0", "0.0"}, {-1.5, "0.0", "-1.5"}, {-0.5, "#.00#", "-.50"},
        // Literals and grouping around the places.
        {-5, "$0.00", "-$5.00"}, {1.25, "0.0 sec", "1.3 sec"}, {1234567, "#,##0", "1,234,567"}, {12, "\"n=\"0", "n=12"},
        {12, "", "12"},
    };
    for (const auto& r : rows) EXPECT_EQ(format_number(r.value, r.picture), r.text) << r.value << " " << r.picture;
}

class FormatDate : public ::testing::Test {
protected:
    ScopedLocale locale_{us_locale()};
    const double sample_ = make_date(2026, 12, 5, 5, 7, 3);        // a Saturday
    const double afternoon_ = make_date(2022, 7, 26, 12, 28, 48);  // a Tuesday

    void expect(double date, std::initializer_list<std::pair<const char*, const char*>> pictures) {
        for (const auto& [picture, text] : pictures) EXPECT_EQ(format_date(date, picture), text) << picture;
    }
};

TEST_F(FormatDate, NumericPicturesAndMinutesAfterAnHour) {
    expect(sample_, {{"mm-dd hh:nn:ss", "12-05 05:07:03"}, {"yy-mm-dd", "26-12-05"},
                     {"mm/dd/yy hh:nn", "12/05/26 05:07"}, {"d", "5"}, {"yyyy", "2026"},
                     {"m/d/yyyy h:n:s", "12/5/2026 5:7:3"},
                     // Month letters after an hour mean minutes.
                     {"hh:mm:ss", "05:07:03"}, {"YY-MM-DD hh:mm:ss", "26-12-05 05:07:03"}, {"mm hh mm", "12 05 07"},
                     {"w q", "7 4"}, {"mmm", "Dec"}, {"dddd", "Saturday"}});
}

TEST_F(FormatDate, NamedFormatsAndTheGeneralDateFollowTheLocale) {
    expect(afternoon_, {{"Long Date", "Tuesday, July 26, 2022"}, {"long date", "Tuesday, July 26, 2022"},
                        {"Short Date", "7/26/2022"}, {"Long Time", "12:28:48 PM"}, {"Short Time", "12:28"},
                        {"General Date", "7/26/2022 12:28:48 PM"}, {"", "7/26/2022 12:28:48 PM"},
                        {"c", "7/26/2022 12:28:48 PM"}, {"h:nn AM/PM", "12:28 PM"}, {"\"at\" hh\\h", "at 12h"}});
    // The general date leaves out midnight and the empty date.
    EXPECT_EQ(format_date(make_date(2026, 12, 5), "General Date"), "12/5/2026");
    EXPECT_EQ(format_date(0.0, "General Date"), "12:00:00 AM");
    EXPECT_EQ(format_date(make_date(2022, 7, 26, 23, 5), "hh:nn a/p"), "11:05 p");
    {
        ScopedLocale scoped(british_locale());
        expect(afternoon_, {{"General Date", "26/07/2022 12:28:48"}});
        expect(0.75, {{"General Date", "18:00:00"}});
    }
    ScopedLocale scoped(iso_locale());
    expect(afternoon_, {{"General Date", "2022-07-26 12:28:48"}});
    expect(sample_, {{"mm/dd/yy hh:nn", "12-05-26 05:07"}});  // "/" is the locale's date separator
}

TEST_F(FormatDate, TheLocalesNamesAreUsed) {
    LocaleInfo german = british_locale();
    german.month_abbrevs[11] = "Dez";
    german.month_names[11] = "Dezember";
    german.day_abbrevs[6] = "Sa";
    ScopedLocale scoped(german);
    expect(sample_, {{"mmm", "Dez"}, {"mmmm", "Dezember"}, {"ddd", "Sa"}});
}

TEST_F(FormatDate, SecondsAreCutNotRoundedAndCountsCrossTheYear) {
    expect(make_date(2026, 12, 5, 5, 7, 3, 999), {{"hh:nn:ss", "05:07:03"}});
    // A value a hair below a whole second (arithmetic on days) still shows that second.
    expect(make_date(2026, 12, 5, 8, 0, 0) - 1e-12, {{"hh:nn:ss", "08:00:00"}});
    expect(make_date(2024, 12, 31), {{"y", "366"}});
    expect(make_date(2026, 1, 3), {{"ww", "1"}});  // 1 January 2026 is a Thursday
    expect(make_date(2026, 1, 4), {{"ww", "2"}});
    expect(make_date(1800, 2, 28, 18), {{"General Date", "2/28/1800 6:00:00 PM"}});
}

} // namespace
} // namespace ktr::platform
