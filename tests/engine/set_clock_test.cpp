#include <gtest/gtest.h>

#include "config/options.h"
#include "engine/nist_timeset.h"
#include "engine/time_util.h"
#include "engine_test_support.h"
#include "fakes/fake_clock.h"
#include "fakes/scoped_locale.h"
#include "platform/date_value.h"

namespace ktr::engine {
namespace {

using platform::make_date;

// The clock in UTC-5 with daylight time (local = UTC - 4 h) on 2026-07-01.
class SetClock : public ::testing::Test {
protected:
    SetClock() {
        saved_ = config::options();
        config::options() = config::COptions{};
    }
    ~SetClock() override {
        config::options() = saved_;
        set_month_first(false);
    }
    platform::DateParts local() { return clock_.local_now(); }
    platform::DateParts set_time(int h, int m, int s, float frac, float leg) {
        e_.NISTSecFrac(frac);
        e_.NISTLegTime(leg);
        double t = make_date(2026, 7, 1, h, m, s);
        bool ok = false;
        e_.System_set_time(t, ok);
        result_ = ok;
        return local();
    }

    config::COptions saved_;
    ktr::testing::FakeClock clock_ = ktr::testing::eastern_daylight_clock(make_date(2026, 7, 1, 14, 0, 0));
    ktr::testing::ScopedFakeClock scoped_{clock_};
    ktr::testing::ScopedLocale locale_{platform::us_locale()};
    CNISTtimeset e_;
    bool result_ = false;
};

TEST_F(SetClock, FractionAndLegDelayAreAdded) {
    const auto st = set_time(10, 15, 58, 0.5f, 0.7f);
    EXPECT_TRUE(result_);
    EXPECT_EQ(st, platform::date_to_parts(make_date(2026, 7, 1, 10, 15, 59, 200)));
    EXPECT_EQ(clock_.utc_now().hour, 14);  // local time was set, in the local zone
}

TEST_F(SetClock, CarryIntoTheMinuteAndTheHour) {
    EXPECT_EQ(set_time(10, 15, 59, 0.5f, 0.7f), platform::date_to_parts(make_date(2026, 7, 1, 10, 16, 0, 200)));
    EXPECT_EQ(set_time(10, 59, 59, 0.5f, 0.7f), platform::date_to_parts(make_date(2026, 7, 1, 11, 0, 0, 0)));
    EXPECT_TRUE(result_);
}

TEST_F(SetClock, NoCarryPastMidnight) {
    testing::DebugCapture log;
    const auto before = local();
    EXPECT_EQ(set_time(23, 59, 59, 0.5f, 0.7f), before);
    EXPECT_FALSE(result_);
    EXPECT_EQ(clock_.set_calls(), 0);
}

TEST_F(SetClock, WholeSecondsWithoutFractions) {
    testing::DebugCapture log;
    clock_.advance_ms(345);
    EXPECT_EQ(set_time(9, 8, 7, 0, 0), platform::date_to_parts(make_date(2026, 7, 1, 9, 8, 7)));
    EXPECT_TRUE(result_);
    EXPECT_FALSE(log.has("Current local tme: "));  // not through the precise setting
}

TEST_F(SetClock, OffsetIsAddedOnlyToPreciseSettings) {
    config::options().msecTimeOffset(1500);
    EXPECT_EQ(set_time(10, 0, 0, 0.25f, 0), platform::date_to_parts(make_date(2026, 7, 1, 10, 0, 1, 750)));
    EXPECT_EQ(set_time(10, 0, 0, 0, 0), platform::date_to_parts(make_date(2026, 7, 1, 10, 0, 0)));
}

TEST_F(SetClock, RefusedSettingIsReported) {
    testing::DebugCapture log;
    clock_.refuse_sets(true);
    const auto before = local();
    EXPECT_EQ(set_time(10, 15, 58, 0.5f, 0), before);
    EXPECT_FALSE(result_);
    EXPECT_TRUE(log.has("SetLocalTimeAPI error 1314"));
    EXPECT_TRUE(log.has("Time setting error - check permissions"));
    double d = make_date(2026, 7, 2);
    e_.System_set_date(d);
    EXPECT_TRUE(log.has("Date setting error - check permissions"));
}

TEST_F(SetClock, UnusableFractionsNeverSet) {
    bool ok = true;
    e_.SetLocalTimeAPI(make_date(2026, 7, 1, 10, 0, 0), -0.5f, ok);
    EXPECT_FALSE(ok);
    e_.SetLocalTimeAPI(make_date(2026, 7, 1, 10, 0, 30), 75.0f, ok);  // more than a minute to carry
    EXPECT_FALSE(ok);
    e_.SetLocalTimeAPI(std::numeric_limits<double>::quiet_NaN(), 0.5f, ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(clock_.set_calls(), 0);
    e_.SetLocalTimeAPI(make_date(2026, 7, 1, 10, 0, 30), 5.5f, ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(local(), platform::date_to_parts(make_date(2026, 7, 1, 10, 0, 35, 500)));
}

TEST_F(SetClock, DateKeepsTheTimeOfDay) {
    testing::DebugCapture log;
    set_month_first(true);
    double d = make_date(2031, 2, 3, 23, 0, 0);
    e_.System_set_date(d);
    EXPECT_EQ(local(), platform::date_to_parts(make_date(2031, 2, 3, 10, 0, 0)));
    EXPECT_TRUE(log.has("System_set_date to new date: 2/3/31"));
}

TEST(ShortDateOrder, ClassifiesTheLocalePattern) {
    const auto detect = [](const char* pattern) {
        platform::LocaleInfo info = platform::us_locale();
        info.short_date_pattern = pattern;
        ktr::testing::ScopedLocale scoped(info);
        bool m = false, d = false, y = false;
        detect_short_date_order(m, d, y, "SYSTEM");
        return std::string(m ? "M" : "") + (d ? "D" : "") + (y ? "Y" : "");
    };
    EXPECT_EQ(detect("M/d/yyyy"), "M");
    EXPECT_EQ(detect("dd.MM.yy"), "D");
    EXPECT_EQ(detect("yyyy-MM-dd"), "Y");
    EXPECT_EQ(detect("MMM d"), "");
    EXPECT_EQ(detect(""), "");
}

TEST(SystemTime, ReadBackInTheShortDateOrder) {
    ktr::testing::ScopedLocale british(platform::british_locale());
    platform::DateParts st{2026, 12, 0, 5, 7, 8, 9, 0};
    set_month_first(false);
    EXPECT_EQ(platform::date_to_parts(systemtime_to_date(st)), platform::date_to_parts(make_date(2026, 12, 5, 7, 8, 9)));
    ktr::testing::ScopedLocale us(platform::us_locale());
    set_month_first(true);
    EXPECT_EQ(platform::date_to_parts(systemtime_to_date(st)), platform::date_to_parts(make_date(2026, 12, 5, 7, 8, 9)));
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
