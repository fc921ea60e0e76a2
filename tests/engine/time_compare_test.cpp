// The server's time against the clock, and the clock set to it.
#include <gtest/gtest.h>

#include <limits>

#include "engine/nist_timeset.h"
#include "engine/ntp_codec.h"
#include "engine/set_clock.h"
#include "engine/time_compare.h"
#include "engine/time_util.h"
#include "fakes/module_state.h"

namespace ktr::engine {
namespace {

using platform::make_date;
using namespace config;

// The clock and the zone as the platform reports them (bias, daylight bias, daylight state).
class Comparison : public testing::ModuleStateTest {
protected:
    void at(double utc, int32_t bias = 0, int32_t daylight = 0, int state = 0) {
        clock_.set_utc(utc);
        clock_.set_zone(ktr::testing::FakeClock(utc, bias, daylight, state).time_zone());
        zone_ = read_system_zone();
    }
    SystemZone zone_;
};

TEST_F(Comparison, ServerTimesAgainstTheClockTheZoneAndTheThresholds) {
    // Times are seconds into 2026-07-01, the clock's in UTC and the corrected one local (0 is none). The
    // zone is UTC, or UTC-5 with daylight time in the given state (1 standard, 2 daylight, 0 unknown).
    constexpr int U = -1;
    constexpr int16_t kMade = kStatusSettingMade, kBelow = kStatusBelowMinimum;
    struct Row { int16_t format; int zone; int16_t dst; const char* tz; double now; const char* line; float frac;
                 int32_t max_s, min_ms, offset_ms; int16_t status; int32_t diff; float diff_frac; double corrected; };
    const Row rows[] = {
        // Two-digit years are this century; a date beginning "20" stays as it is.
        {kServerNist, U, 0, "", 43210, "Server: 26-07-01 12:00:00", 0, 3600, 500, 0, kMade, -10, 0, 43200},
        {kServerNist, U, 0, "", 43210, "Server: 2026-07-01 12:00:20", 0, 3600, 500, 0, kMade, 10, 0, 43220},
        // Console dates in the locale order are read as they came.
        {kServerNist, U, 0, "", 43200, "S+ 07/01/2026 12:00:02 250", .25f, 3600, 500, 0, kMade, 2, .25f, 43202},
        // One day across midnight is a setting; more is a changed date.
        {kServerNist, U, 0, "", 86399, "Server: 26-07-02 00:00:01", 0, 3600, 500, 0, kMade, 2, 0, 86401},
        {kServerNist, U, 0, "", 86399, "Server: 26-07-03 00:00:01", 0, 3600, 500, 0, kStatusDatesChanged, 0, 0, 172801},
        // The maximum is inclusive; so is the minimum.
        {kServerNist, U, 0, "", 43260, "Server: 26-07-01 12:00:00", 0, 60, 500, 0, kMade, -60, 0, 43200},
        {kServerNist, U, 0, "", 43260, "Server: 26-07-01 11:59:59", 0, 60, 500, 0, kStatusAboveMaximum, -61, 0, 0},
        {kServerNist, U, 0, "", 43200, "Server: 26-07-01 12:00:01", 0, 3600, 2000, 0, kBelow, 0, 0, 0},
        {kServerNist, U, 0, "", 43200, "Server: 26-07-01 12:00:02", 0, 3600, 2000, 0, kMade, 2, 0, 43202},
        // Fractions decide the direction and the size.
        {kServerNist, U, 0, "", 43200.25, "Server: 26-07-01 12:00:00", .75f, 3600, 500, 0, kMade, 0, .5f, 43200},
        {kServerNist, U, 0, "", 43200.75, "Server: 26-07-01 12:00:00", .5f, 3600, 500, 0, kBelow, 0, .25f, 0},
        // The time offset is taken from the clock first.
        {kServerNist, U, 0, "", 43205, "Server: 26-07-01 12:00:00", 0, 3600, 500, 5000, kBelow, 0, 0, 0},
        // With no daylight information from the system the server's code decides: one counting down (49) is
        // not yet daylight time. A system's standard time wins over the server's code.
        {kServerNist, 2, 0, "", 43205, "Server: 26-07-01 12:00:00", 0, 3600, 500, 0, kMade, -5, 0, 28800},
        {kServerNist, 0, 49, "", 43205, "Server: 26-07-01 12:00:00", 0, 3600, 500, 0, kMade, -5, 0, 25200},
        {kServerNist, 0, 50, "", 43205, "Server: 26-07-01 12:00:00", 0, 3600, 500, 0, kMade, 3595, 0, 28800},
        {kServerNist, 1, 50, "", 43205, "Server: 26-07-01 12:00:00", 0, 3600, 500, 0, kMade, -5, 0, 25200},
        // A daytime server in the local zone (or the one ServerTZDiff names), to the second, with the minimum
        // in milliseconds as for every other format: one second is rounded to none.
        {kServerDaytime, 2, 0, "", 43200, "7/1/2026 08:00:03", 0, 3600, 2000, 0, kMade, 3, 0, 28803},
        {kServerDaytime, 2, 0, "", 43200, "7/1/2026 08:00:01", 0, 3600, 2000, 0, kBelow, 0, 0, 0},
        {kServerDaytime, 2, 0, "2", 43200, "7/1/2026 10:00:10", 0, 3600, 500, 0, kMade, 10, 0, 28810},
        // Time-protocol replies are UTC whatever ServerTZDiff says; SNTP ones count milliseconds.
        {kServerTime, 2, 0, "2", 43200, "7/1/2026 12:00:10", 0, 3600, 500, 0, kMade, 10, 0, 28810},
        {kServerSntp, 2, 0, "", 43200.25, "7/1/2026 12:00:00 PM", .5f, 3600, 100, 0, kMade, 0, .25f, 28800},
        {kServerSntp, 2, 0, "", 43200.25, "7/1/2026 12:00:00 PM", .5f, 3600, 500, 0, kBelow, 0, .25f, 0},
    };
    const auto date = [](double seconds) { return seconds ? make_date(2026, 7, 1) + seconds / 86400 : 0; };
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::Message() << r.line << " format " << r.format << " zone " << r.zone << " " << r.dst);
        options().ServerFormat(r.format);
        options().ServerTZDiff(r.tz);
        options().SetMaxThreshold(r.max_s);
        options().SetMinThreshold(r.min_ms);
        options().msecTimeOffset(r.offset_ms);
        if (r.zone == U) at(date(r.now));
        else at(date(r.now), 300, -60, r.zone);
        ServerReading reading = NIST_parse_string(r.line, {}).reading;
        if (r.format == kServerSntp) reading.date = r.line;
        reading.fraction = r.frac;
        reading.dst = r.dst;
        const ClockComparison c = r.format == kServerNist   ? NIST_compare_time(reading, zone_)
                                  : r.format == kServerSntp ? compare_ntp_time(reading, zone_)
                                                            : compare_time(r.line, zone_);
        EXPECT_EQ(c.status, r.status);
        EXPECT_EQ(c.difference_sec, r.diff);
        EXPECT_FLOAT_EQ(c.difference_frac, r.diff_frac);
        // Only the setting across midnight changes the date within a day.
        EXPECT_EQ(c.date_change, r.now == 86399 && r.status == kStatusSettingMade);
        EXPECT_EQ(platform::date_to_parts(c.corrected), platform::date_to_parts(date(r.corrected)));
    }
    at(make_date(2026, 7, 1), 99999);  // a bias beyond 16 bits is no zone
    EXPECT_EQ(NIST_compare_time(NIST_parse_string("Server: 26-07-01 00:00:00", {}).reading, zone_).status,
              kStatusTimeZoneError);
}

using platform::date_to_parts;

// The clock in UTC-5 with daylight time (local = UTC - 4 h) on 2026-07-01.
class SetClock : public testing::ModuleStateTest {
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

TEST_F(SetClock, RefusedSettingsAndTheDirectUtcSetting) {
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
}

TEST_F(SetClock, ShortDateOrderClassifiesThePatternAndSetsDatesInIt) {
    for (const auto& [pattern, order] : {std::pair{"M/d/yyyy", "M"}, {"dd.MM.yy", "D"}, {"yyyy-MM-dd", "Y"},
                                         {"MMM d", ""}, {"", ""}}) {
        platform::LocaleInfo info = platform::us_locale();
        info.short_date_pattern = pattern;
        ktr::testing::ScopedLocale scoped(info);
        bool m = false, d = false, y = false;
        detect_short_date_order(m, d, y, "SYSTEM");
        EXPECT_EQ(std::string(m ? "M" : "") + (d ? "D" : "") + (y ? "Y" : ""), order) << pattern;
    }
    // Setting the date keeps the time of day, also in the month-first order the window detects in the US.
    set_month_first(true);
    System_set_date(make_date(2031, 2, 3, 23, 0, 0));
    EXPECT_EQ(local(), date_to_parts(make_date(2031, 2, 3, 10, 0, 0)));
    set_month_first(false);  // the module's own default, for the tests after this one
}

} // namespace
} // namespace ktr::engine
