#include <gtest/gtest.h>

#include <cmath>

#include "platform/date_value.h"

namespace ktr::platform {
namespace {

TEST(DateValue, KnownDayNumbersAndRollOver) {
    EXPECT_EQ(date_serial(1899, 12, 30), 0);
    EXPECT_EQ(date_serial(1900, 1, 1), 2);
    EXPECT_EQ(date_serial(1900, 3, 1), 61);  // 1900 is no leap year
    EXPECT_EQ(date_serial(100, 1, 1), kMinDate);
    EXPECT_EQ(date_serial(9999, 12, 31), std::floor(kMaxDate));
    // 3867827328 seconds after 1900 is 2022-07-26 12:28:48.
    EXPECT_DOUBLE_EQ(make_date(2022, 7, 26, 12, 28, 48), 3867827328.0 / 86400 + 2);
    // Parts out of range roll over as the runtime's DateSerial and TimeSerial do.
    EXPECT_EQ(date_serial(2026, 13, 1), date_serial(2027, 1, 1));
    EXPECT_EQ(date_serial(2026, -12, 1), date_serial(2024, 12, 1));
    EXPECT_EQ(date_serial(2024, 3, 0), date_serial(2024, 2, 29));
    EXPECT_EQ(date_serial(2026, 1, 366), date_serial(2027, 1, 1));
    EXPECT_DOUBLE_EQ(time_serial(0, -30, 0), -30.0 / 1440);
    EXPECT_DOUBLE_EQ(time_serial(25, 0, 1, 500), 25.0 / 24 + 1.5 / 86400);
}

TEST(DateValue, PartsOfAValueAlsoBeforeTheEpochAndOutsideTheRange) {
    EXPECT_EQ(date_to_parts(make_date(2026, 12, 5, 5, 7, 3, 45)), (DateParts{2026, 12, 6, 5, 5, 7, 3, 45}));
    EXPECT_EQ(date_to_parts(0).day_of_week, 6);  // 1899-12-30 was a Saturday
    // Before the epoch the day counts backwards and the fraction is still the time of day.
    EXPECT_DOUBLE_EQ(make_date(1899, 12, 29, 6), -1.25);
    EXPECT_EQ(date_to_parts(-1.25), (DateParts{1899, 12, 5, 29, 6, 0, 0, 0}));
    EXPECT_EQ(date_to_parts(-0.5), (DateParts{1899, 12, 6, 30, 12, 0, 0, 0}));
    EXPECT_DOUBLE_EQ(time_part(-1.25), 0.25);
    EXPECT_EQ(date_part(-1.25), -1);
    for (double outside : {double(NAN), double(INFINITY), 1e12, -1e12})
        EXPECT_EQ(date_to_parts(outside), DateParts{}) << outside;
}

TEST(DateValue, MillisecondRoundingCarriesIntoTheNextDay) {
    EXPECT_EQ(date_to_parts(date_serial(2026, 12, 31) + 0.99999999999), (DateParts{2027, 1, 5, 1, 0, 0, 0, 0}));
    const DateParts q = date_to_parts(date_serial(1899, 12, 29) - 0.99999999999);
    EXPECT_EQ(q.day, 28);
    EXPECT_EQ(q.hour, 0);
    // A hair below a whole second reads as that second.
    EXPECT_EQ(date_to_parts(make_date(2026, 12, 5, 8) - 1e-12).hour, 8);
}

TEST(DateValue, RoundTripsToTheMillisecond) {
    for (double v = kMinDate; v < kMaxDate; v += 9876.54321) {
        const DateParts p = date_to_parts(v);
        EXPECT_NEAR(parts_to_date(p), v, 0.0006 / 86400) << v;
        EXPECT_TRUE(valid_ymd(p.year, p.month, p.day)) << v;
    }
    for (int y : {100, 1600, 1900, 2000, 2024, 9999})
        for (int m = 1; m <= 12; ++m) {
            const DateParts p{y, m, 0, days_in_month(y, m), 23, 59, 59, 999};
            DateParts back = date_to_parts(parts_to_date(p));
            back.day_of_week = 0;
            EXPECT_EQ(back, p) << y << "-" << m;
        }
    EXPECT_FALSE(valid_ymd(2026, 2, 29));
    EXPECT_FALSE(valid_ymd(99, 1, 1));
    EXPECT_FALSE(valid_ymd(10000, 1, 1));
}

} // namespace
} // namespace ktr::platform
