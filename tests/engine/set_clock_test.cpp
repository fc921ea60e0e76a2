#include <gtest/gtest.h>

#include <limits>

#include "config/options.h"
#include "engine/nist_timeset.h"
#include "engine/time_util.h"
#include "engine_test_support.h"
#include "fakes/fake_clock.h"
#include "fakes/scoped_locale.h"
#include "platform/date_value.h"

namespace ktr::engine {
namespace {

using platform::date_to_parts;
using platform::make_date;

// The clock in UTC-5 with daylight time (local = UTC - 4 h) on 2026-07-01.
class SetClock : public ::testing::Test {
protected:
    SetClock() : saved_(config::options()) { config::options() = config::COptions{}; }
    ~SetClock() override {
        config::options() = saved_;
        set_month_first(false);
    }
    platform::DateParts local() { return clock_.local_now(); }

    config::COptions saved_;
    ktr::testing::FakeClock clock_ = ktr::testing::eastern_daylight_clock(make_date(2026, 7, 1, 14, 0, 0));
    ktr::testing::ScopedFakeClock scoped_{clock_};
    ktr::testing::ScopedLocale locale_{platform::us_locale()};
    CNISTtimeset e_;
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
    };
    testing::DebugCapture log;
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::Message() << r.h << ":" << r.m << ":" << r.s << "+" << r.frac);
        clock_.advance_ms(345);
        config::options().msecTimeOffset(r.offset_ms);
        e_.NISTSecFrac(r.frac);
        e_.NISTLegTime(r.leg);
        const auto before = local();
        const int calls = clock_.set_calls();
        double t = make_date(2026, 7, 1, r.h, r.m, r.s);
        bool ok = !r.ok;
        e_.System_set_time(t, ok);
        EXPECT_EQ(ok, r.ok);
        EXPECT_EQ(local(), r.ok ? date_to_parts(r.expected) : before);
        if (!r.ok) {
            EXPECT_EQ(clock_.set_calls(), calls);
        }
    }
    EXPECT_EQ(clock_.utc_now().hour, 14);  // local time was set, in the local zone
}

TEST_F(SetClock, RefusedSettingsAndUnusableFractions) {
    testing::DebugCapture log;
    clock_.refuse_sets(true);
    const auto before = local();
    double t = make_date(2026, 7, 1, 10, 15, 58);
    bool ok = true;
    e_.NISTSecFrac(0.5f);
    e_.System_set_time(t, ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(local(), before);
    EXPECT_TRUE(log.has("SetLocalTimeAPI error 1314"));
    EXPECT_TRUE(log.has("Time setting error - check permissions"));
    double d = make_date(2026, 7, 2);
    e_.System_set_date(d);
    EXPECT_TRUE(log.has("Date setting error - check permissions"));

    clock_.refuse_sets(false);
    const int calls = clock_.set_calls();
    e_.SetLocalTimeAPI(make_date(2026, 7, 1, 10, 0, 0), -0.5f, ok);
    EXPECT_FALSE(ok);
    e_.SetLocalTimeAPI(make_date(2026, 7, 1, 10, 0, 30), 75.0f, ok);  // more than a minute to carry
    EXPECT_FALSE(ok);
    e_.SetLocalTimeAPI(std::numeric_limits<double>::quiet_NaN(), 0.5f, ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(clock_.set_calls(), calls);
    e_.SetLocalTimeAPI(make_date(2026, 7, 1, 10, 0, 30), 5.5f, ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(local(), date_to_parts(make_date(2026, 7, 1, 10, 0, 35, 500)));
}

TEST_F(SetClock, DateKeepsTheTimeOfDay) {
    testing::DebugCapture log;
    set_month_first(true);
    double d = make_date(2031, 2, 3, 23, 0, 0);
    e_.System_set_date(d);
    EXPECT_EQ(local(), date_to_parts(make_date(2031, 2, 3, 10, 0, 0)));
    EXPECT_TRUE(log.has("System_set_date to new date: 2/3/31"));
}

TEST(ShortDateOrder, ClassifiesTheLocalePatternAndReadsDatesInIt) {
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
    set_month_first(false);
}

TEST(SystemTime, DirectUtcSetting) {
    auto clock = ktr::testing::eastern_daylight_clock();
    ktr::testing::ScopedFakeClock scoped(clock);
    const platform::DateParts utc{2026, 7, 1, 1, 12, 0, 0, 0};
    EXPECT_TRUE(set_system_time(utc));
    EXPECT_DOUBLE_EQ(platform::parts_to_date(get_system_time()), platform::parts_to_date(utc));
    clock.refuse_sets(true);
    testing::DebugCapture log;
    EXPECT_FALSE(set_system_time(utc));
    EXPECT_TRUE(log.has("Error on SetSystemTime: 0"));
}

} // namespace
} // namespace ktr::engine
