// The clocks and the dates they can hold.
#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/date_value.h"

namespace ktr::platform {
namespace {

TEST(ClockRange, TheSimulatedClockHoldsAnyDateItIsGivenAndTheRangeEndsWhereClocksDo) {
    // Centuries away from now: the offset must not overflow on the way.
    for (const int year : {1970, 2261, 9999}) {
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

} // namespace
} // namespace ktr::platform
