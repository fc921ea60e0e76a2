#include <gtest/gtest.h>

#include <tuple>

#include "engine/nist_timeset.h"
#include "engine/ntp_codec.h"
#include "engine/time_compare.h"
#include "engine_fixture.h"

namespace ktr::engine {
namespace {

using platform::make_date;

// The clock and the zone as the platform reports them (bias, daylight bias, daylight state).
class Comparison : public EngineTest {
protected:
    Comparison() { config::options().SetMaxThreshold(3600); }
    void at(double utc, int32_t bias = 0, int32_t daylight = 0, int state = 0) {
        clock_.set_utc(utc);
        clock_.set_zone(ktr::testing::FakeClock(utc, bias, daylight, state).time_zone());
        zone_ = read_system_zone();
    }
    ClockComparison nist(const std::string& line, float frac = 0, int16_t dst = 0) {
        ServerReading r = NIST_parse_string(line, {}).reading;
        r.fraction = frac;
        r.dst = dst;
        return NIST_compare_time(r, zone_);
    }
    SystemZone zone_;
};

TEST_F(Comparison, NistStringsAgainstTheClockAndTheThresholds) {
    // Times are seconds into 2026-07-01; a corrected time of 0 is none.
    struct Row { double now; const char* line; float frac; int32_t max_s, min_ms, offset_ms; int16_t status;
                 int32_t diff; float diff_frac; double corrected; };
    const Row rows[] = {
        // Two-digit years are this century; a date beginning "20" stays as it is.
        {43210, "Server: 26-07-01 12:00:00", 0, 3600, 500, 0, config::kStatusSettingMade, -10, 0, 43200},
        {43210, "Server: 2026-07-01 12:00:20", 0, 3600, 500, 0, config::kStatusSettingMade, 10, 0, 43220},
        // Console dates in the locale order are read as they came.
        {43200, "S+ 07/01/2026 12:00:02 250", 0.25f, 3600, 500, 0, config::kStatusSettingMade, 2, 0.25f, 43202},
        {43200, "Server: 26-13-45 99:00:00", 0, 3600, 500, 0, config::kStatusNotADate, 0, 0, 0},
        // One day across midnight is a setting; more is a changed date.
        {86399, "Server: 26-07-02 00:00:01", 0, 3600, 500, 0, config::kStatusSettingMade, 2, 0, 86401},
        {86399, "Server: 26-07-03 00:00:01", 0, 3600, 500, 0, config::kStatusDatesChanged, 0, 0, 172801},
        // The maximum is inclusive; so is the minimum, which a forced setting ignores.
        {43260, "Server: 26-07-01 12:00:00", 0, 60, 500, 0, config::kStatusSettingMade, -60, 0, 43200},
        {43260, "Server: 26-07-01 11:59:59", 0, 60, 500, 0, config::kStatusAboveMaximum, -61, 0, 0},
        {43200, "Server: 26-07-01 12:00:01", 0, 3600, 2000, 0, config::kStatusBelowMinimum, 0, 0, 0},
        {43200, "F+ 26-07-01 12:00:01 0", 0, 3600, 2000, 0, config::kStatusBelowMinimum, 1, 0, 43201},
        {43200, "Server: 26-07-01 12:00:02", 0, 3600, 2000, 0, config::kStatusSettingMade, 2, 0, 43202},
        // Fractions decide the direction and the size.
        {43200.25, "Server: 26-07-01 12:00:00", 0.75f, 3600, 500, 0, config::kStatusSettingMade, 0, 0.5f, 43200},
        {43200.75, "Server: 26-07-01 12:00:00", 0.5f, 3600, 500, 0, config::kStatusBelowMinimum, 0, 0.25f, 0},
        // The time offset is taken from the clock first.
        {43205, "Server: 26-07-01 12:00:00", 0, 3600, 500, 5000, config::kStatusBelowMinimum, 0, 0, 0},
    };
    const auto corrected = [](double seconds) { return seconds ? make_date(2026, 7, 1) + seconds / 86400 : 0; };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.line);
        config::options().SetMaxThreshold(r.max_s);
        config::options().SetMinThreshold(r.min_ms);
        config::options().msecTimeOffset(r.offset_ms);
        at(make_date(2026, 7, 1) + r.now / 86400);
        const ClockComparison c = nist(r.line, r.frac);
        EXPECT_EQ(c.status, r.status);
        EXPECT_EQ(c.difference_sec, r.diff);
        EXPECT_FLOAT_EQ(c.difference_frac, r.diff_frac);
        // Only the setting across midnight changes the date within a day.
        EXPECT_EQ(c.date_change, r.now == 86399 && r.status == config::kStatusSettingMade);
        EXPECT_EQ(platform::date_to_parts(c.corrected), platform::date_to_parts(corrected(r.corrected)));
    }
    at(make_date(2026, 7, 1), 99999);  // a bias beyond 16 bits is no zone
    EXPECT_EQ(nist("Server: 26-07-01 00:00:00").status, config::kStatusTimeZoneError);
}

TEST_F(Comparison, DaylightTimeFromTheSystemElseFromTheServer) {
    // With no daylight information from the system (state 0) the server's code decides: one counting
    // down (49) is not yet daylight time. A system's standard time (1) wins over the server's code.
    for (const auto& [state, code, hour] : {std::tuple{2, 0, 8}, {0, 49, 7}, {0, 50, 8}, {1, 50, 7}}) {
        SCOPED_TRACE(::testing::Message() << state << " " << code);
        at(make_date(2026, 7, 1, 12, 0, 5), 300, -60, state);
        const ClockComparison c = nist("Server: 26-07-01 12:00:00", 0, static_cast<int16_t>(code));
        EXPECT_EQ(c.status, config::kStatusSettingMade);
        EXPECT_EQ(platform::date_to_parts(c.corrected), platform::date_to_parts(make_date(2026, 7, 1, hour, 0, 0)));
    }
}

// Daytime and Time-protocol texts, then NTP replies to the millisecond, in a zone with daylight time.
TEST_F(Comparison, DaytimeTimeAndNtpReplies) {
    config::options().ServerFormat(1);
    config::options().SetMinThreshold(2000);  // milliseconds, as for every other format
    at(make_date(2026, 7, 1, 12, 0, 0), 300, -60, 2);
    // A daytime server in the local zone: no system correction applies.
    EXPECT_EQ(compare_time("7/1/2026 08:00:03", zone_).difference_sec, 3);
    const ClockComparison small = compare_time("7/1/2026 08:00:01", zone_);  // one second is rounded to none
    EXPECT_TRUE(small.status == config::kStatusBelowMinimum && small.difference_sec == 0);

    config::options().SetMinThreshold(500);
    config::options().ServerTZDiff("2");
    const ClockComparison ahead = compare_time("7/1/2026 10:00:10", zone_);
    EXPECT_TRUE(ahead.status == config::kStatusSettingMade &&
                platform::date_to_parts(ahead.corrected) == platform::date_to_parts(make_date(2026, 7, 1, 8, 0, 10)));

    config::options().ServerFormat(3);  // Time-protocol replies are UTC
    EXPECT_EQ(platform::date_to_parts(compare_time("7/1/2026 12:00:10", zone_).corrected).hour, 8);

    config::options().SetMinThreshold(100);
    at(make_date(2026, 12, 5, 12, 0, 0, 250), 300, -60, 2);
    ServerReading r;
    r.date = "12/5/2026 12:00:00 PM";
    r.fraction = 0.5f;
    const ClockComparison c = compare_ntp_time(r, zone_);
    EXPECT_TRUE(c.status == config::kStatusSettingMade && c.difference_frac == 0.25f);
    EXPECT_EQ(platform::date_to_parts(c.corrected), platform::date_to_parts(make_date(2026, 12, 5, 8, 0, 0)));

    config::options().SetMinThreshold(500);
    EXPECT_EQ(compare_ntp_time(r, zone_).status, config::kStatusBelowMinimum);
    EXPECT_TRUE(traced(" 5: Timediff < minimum of 500 msec "));
}

} // namespace
} // namespace ktr::engine
