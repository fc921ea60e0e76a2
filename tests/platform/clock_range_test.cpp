// The clocks and the dates they can hold.
#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/date_value.h"
#include "platform/win32/zone_rules.h"

namespace ktr::platform {
namespace {

TEST(ClockRange, TheSimulatedClockHoldsAnyDateItIsGivenAndTheRangeEndsWhereClocksDo) {
    // Centuries away from now: the offset must not overflow on the way, and years before any the system
    // converts still read back.
    for (const int year : {1500, 1970, 2261, 9999}) {
        auto simulated = make_simulated_clock();
        const DateParts target = date_to_parts(make_date(year, 12, 26, 5, 37, 32));
        ASSERT_TRUE(simulated->set_system_time(target)) << year;
        EXPECT_EQ(simulated->utc_now().year, year);
    }
    const std::pair<double, bool> rows[] = {
        {make_date(1969, 12, 31, 23, 59, 59), false}, {make_date(1970, 1, 1), true},
        {make_date(2261, 12, 31, 23, 59, 59), true},  {make_date(2262, 1, 1), false},
        {make_date(9999, 12, 26), false},
    };
    for (const auto& [date, holds] : rows) EXPECT_EQ(clock_can_hold(date), holds) << date;
}

// Through the simulated clock, so the machine's own stays untouched: a local time set is the local time read,
// and local time and UTC lie apart by the zone's offset in force then, daylight or standard, in every season.
TEST(ClockRange, LocalTimesFollowTheZoneInEverySeason) {
    for (int month = 1; month <= 12; ++month) {
        auto simulated = make_simulated_clock();
        const DateParts local{2024, month, 0, 15, 12, 30, 0, 250};
        ASSERT_TRUE(simulated->set_local_time(local)) << month;
        const double read_local = parts_to_date(simulated->local_now());
        const double read_utc = parts_to_date(simulated->utc_now());
        const TimeZoneInfo zone = simulated->time_zone();
        EXPECT_NEAR(read_local, parts_to_date(local), 2.0 / 86400) << month;
        const int offset = zone.bias + (zone.state == 2 ? zone.daylight_bias : zone.standard_bias);
        EXPECT_NEAR((read_utc - read_local) * 1440, offset, 0.05) << month << " state " << zone.state;
    }
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
