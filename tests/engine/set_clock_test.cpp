#include <gtest/gtest.h>

#include <limits>

#include "engine/set_clock.h"
#include "engine/time_util.h"
#include "engine_fixture.h"

namespace ktr::engine {
namespace {

using platform::date_to_parts;
using platform::make_date;

// The clock in UTC-5 with daylight time (local = UTC - 4 h) on 2026-07-01.
class SetClock : public EngineTest {
protected:
    SetClock() { clock_ = ktr::testing::eastern_daylight_clock(make_date(2026, 7, 1, 14, 0, 0)); }
    platform::DateParts local() { return clock_.local_now(); }
};

TEST_F(SetClock, FractionLegDelayAndOffsetCarryWithinTheDay) {
    struct Row { int h, m, s; float frac, leg; int32_t offset_ms; bool ok; double expected; };
    const Row rows[] = {
        {10, 15, 58, 0.5f, 0.7f, 0, true, make_date(2026, 7, 1, 10, 15, 59, 200)},
        {10, 15, 59, 0.5f, 0.7f, 0, true, make_date(2026, 7, 1, 10, 16, 0, 200)},  // into the minute
        {10, 59, 59, 0.5f, 0.7f, 0, true, make_date(2026, 7, 1, 11, 0, 0, 0)},     // into the hour
        {23, 59, 59, 0.5f, 0.7f, 0, false, 0},                                     // never past midnight
        {9, 8, 7, 0, 0, 0, true, make_date(2026, 7, 1, 9, 8, 7)},                  // whole seconds
        {10, 0, 0, 0.25f, 0, 1500, true, make_date(2026, 7, 1, 10, 0, 1, 750)},    // offset on precise settings
        {10, 0, 0, 0, 0, 1500, true, make_date(2026, 7, 1, 10, 0, 0)},             // ... only
        {10, 0, 30, 5.5f, 0, 0, true, make_date(2026, 7, 1, 10, 0, 35, 500)},
        {10, 0, 0, -1, 0.5f, 0, false, 0},                                         // below nothing
        {10, 0, 30, 75, 0, 0, false, 0},                                           // more than a minute to carry
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::Message() << r.h << ":" << r.m << ":" << r.s << "+" << r.frac);
        clock_.advance_ms(345);
        config::options().msecTimeOffset(r.offset_ms);
        const auto before = local();
        const int calls = clock_.set_calls();
        EXPECT_EQ(System_set_time(make_date(2026, 7, 1, r.h, r.m, r.s), r.frac, r.leg), r.ok);
        EXPECT_EQ(local(), r.ok ? date_to_parts(r.expected) : before);
        EXPECT_EQ(clock_.set_calls() - calls, r.ok ? 1 : 0);
    }
    EXPECT_EQ(clock_.utc_now().hour, 14);  // local time was set, in the local zone
    const int calls = clock_.set_calls();
    EXPECT_FALSE(System_set_time(std::numeric_limits<double>::quiet_NaN(), 0.5f, 0));
    EXPECT_EQ(clock_.set_calls(), calls);
}

TEST_F(SetClock, RefusedSettingsUtcFractionsAndTheDirectUtcSetting) {
    clock_.refuse_sets(true);
    const auto before = local();
    EXPECT_FALSE(System_set_time(make_date(2026, 7, 1, 10, 15, 58), 0.5f, 0));
    System_set_date(make_date(2026, 7, 2));
    EXPECT_EQ(local(), before);
    const platform::DateParts utc{2026, 7, 1, 1, 12, 0, 0, 0};
    EXPECT_FALSE(set_system_time(utc));
    clock_.refuse_sets(false);
    EXPECT_TRUE(set_system_time(utc));
    EXPECT_DOUBLE_EQ(platform::parts_to_date(get_system_time()), platform::parts_to_date(utc));

    for (const auto& [ms, fraction] : {std::pair<int16_t, float>{999, 0.999f}, {1500, 0.15f}, {10000, 0.1f}})
        EXPECT_FLOAT_EQ(ms_to_fraction(ms), fraction) << ms;
    clock_.set_utc(make_date(2026, 12, 5, 12, 0, 0, 250));
    EXPECT_FLOAT_EQ(current_fraction(), 0.25f);  // of the UTC clock
    EXPECT_EQ(date_to_systemtime(make_date(2026, 12, 5, 12, 0, 7), 0.5f),
              (platform::DateParts{2026, 12, 0, 5, 12, 0, 7, 500}));
}

TEST_F(SetClock, ShortDateOrderClassifiesThePatternAndReadsAndSetsDatesInIt) {
    for (const auto& [pattern, order] : {std::pair{"M/d/yyyy", "M"}, {"dd.MM.yy", "D"}, {"yyyy-MM-dd", "Y"},
                                         {"MMM d", ""}, {"", ""}}) {
        platform::LocaleInfo info = platform::us_locale();
        info.short_date_pattern = pattern;
        ktr::testing::ScopedLocale scoped(info);
        bool m = false, d = false, y = false;
        detect_short_date_order(m, d, y, "SYSTEM");
        EXPECT_EQ(std::string(m ? "M" : "") + (d ? "D" : "") + (y ? "Y" : ""), order) << pattern;
    }
    const platform::DateParts st{2026, 12, 0, 5, 7, 8, 9, 0};
    for (bool us : {false, true}) {
        ktr::testing::ScopedLocale locale(us ? platform::us_locale() : platform::british_locale());
        set_month_first(us);
        EXPECT_EQ(date_to_parts(systemtime_to_date(st)), date_to_parts(make_date(2026, 12, 5, 7, 8, 9))) << us;
    }
    // Setting the date keeps the time of day.
    System_set_date(make_date(2031, 2, 3, 23, 0, 0));
    EXPECT_EQ(local(), date_to_parts(make_date(2031, 2, 3, 10, 0, 0)));
}

} // namespace
} // namespace ktr::engine
