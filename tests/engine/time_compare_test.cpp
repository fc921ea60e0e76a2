#include <gtest/gtest.h>

#include <limits>

#include "config/options.h"
#include "engine/nist_timeset.h"
#include "engine_test_support.h"
#include "fakes/fake_clock.h"
#include "fakes/scoped_locale.h"
#include "platform/date_value.h"

namespace ktr::engine {
namespace {

using platform::make_date;

// The engine with thresholds of one hour and half a second, in a zone chosen per check.
class Comparison : public ::testing::Test {
protected:
    Comparison() : saved_(config::options()) {
        config::options() = config::COptions{};
        config::options().SetMaxThreshold(3600);
        config::options().SetMinThreshold(500);
    }
    ~Comparison() override { config::options() = saved_; }

    // Clock at the given UTC time; zone bias/daylight bias/state as the platform reports it.
    void at(double utc, int32_t bias = 0, int32_t daylight = 0, int state = 0) {
        clock_.set_utc(utc);
        clock_.set_zone(ktr::testing::FakeClock(utc, bias, daylight, state).time_zone());
        e_.System_get_timezone();
    }
    int16_t nist(const std::string& line, float frac = 0) {
        EXPECT_TRUE(e_.NIST_parse_string(line)) << line;
        e_.NISTSecFrac(frac);
        int16_t status = -1;
        e_.NIST_compare_time(status);
        return status;
    }
    int16_t compare(const char* text) {
        int16_t status = -1;
        e_.compare_time(text, status);
        return status;
    }
    platform::DateParts corrected() const { return platform::date_to_parts(e_.NISTCorrDateTime()); }

    config::COptions saved_;
    ktr::testing::FakeClock clock_;
    ktr::testing::ScopedFakeClock scoped_{clock_};
    ktr::testing::ScopedLocale locale_{platform::us_locale()};
    CNISTtimeset e_;
};

TEST_F(Comparison, NistStringsAgainstTheClockAndTheThresholds) {
    struct Row {
        double utc;
        const char* line;
        float frac;
        int32_t max_s, min_ms, offset_ms;
        int16_t status;
        int32_t diff;
        float diff_frac;
        double corrected;  // 0: none
    };
    const double d = make_date(2026, 7, 1);
    const double s = 1.0 / 86400;
    const Row rows[] = {
        // Two-digit years are this century.
        {make_date(2025, 12, 5, 12, 0, 10), "Server: 25-12-05 12:00:00", 0, 3600, 500, 0, kStatusSettingMade, -10, 0,
         make_date(2025, 12, 5, 12, 0, 0)},
        {make_date(2025, 12, 5, 12, 0, 10), "Server: 2025-12-05 12:00:20", 0, 3600, 500, 0, kStatusSettingMade, 10, 0,
         make_date(2025, 12, 5, 12, 0, 20)},
        // Console dates in the locale order are read as they came.
        {make_date(2026, 12, 5, 5, 37, 30), "S+ 12/05/2026 05:37:32 250", 0.25f, 3600, 500, 0, kStatusSettingMade, 2,
         0.25f, make_date(2026, 12, 5, 5, 37, 32)},
        {d, "Server: 26-13-45 99:00:00", 0, 3600, 500, 0, kStatusNotADate, 0, 0, 0},
        // One day across midnight is a setting; more is a changed date.
        {d + 86399 * s, "Server: 26-07-02 00:00:01", 0, 3600, 500, 0, kStatusSettingMade, 2, 0, d + 86401 * s},
        {d + 86399 * s, "Server: 26-07-03 00:00:01", 0, 3600, 500, 0, kStatusDatesChanged, 0, 0, d + 2 + s},
        // The maximum is inclusive; so is the minimum, which a forced setting ignores.
        {d + 43260 * s, "Server: 26-07-01 12:00:00", 0, 60, 500, 0, kStatusSettingMade, -60, 0, d + 43200 * s},
        {d + 43260 * s, "Server: 26-07-01 11:59:59", 0, 60, 500, 0, kStatusAboveMaximum, -61, 0, 0},
        {d + 43200 * s, "Server: 26-07-01 12:00:01", 0, 3600, 2000, 0, kStatusBelowMinimum, 0, 0, 0},
        {d + 43200 * s, "F+ 26-07-01 12:00:01 0", 0, 3600, 2000, 0, kStatusBelowMinimum, 1, 0, d + 43201 * s},
        {d + 43200 * s, "Server: 26-07-01 12:00:02", 0, 3600, 2000, 0, kStatusSettingMade, 2, 0, d + 43202 * s},
        // Fractions decide the direction and the size.
        {d + 43200.25 * s, "Server: 26-07-01 12:00:00", 0.75f, 3600, 500, 0, kStatusSettingMade, 0, 0.5f,
         d + 43200 * s},
        {d + 43200.75 * s, "Server: 26-07-01 12:00:00", 0.5f, 3600, 500, 0, kStatusBelowMinimum, 0, 0.25f, 0},
        // The time offset is taken from the clock first.
        {d + 43205 * s, "Server: 26-07-01 12:00:00", 0, 3600, 500, 5000, kStatusBelowMinimum, 0, 0, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.line);
        e_ = CNISTtimeset{};
        config::options().SetMaxThreshold(r.max_s);
        config::options().SetMinThreshold(r.min_ms);
        config::options().msecTimeOffset(r.offset_ms);
        at(r.utc);
        EXPECT_EQ(nist(r.line, r.frac), r.status);
        EXPECT_EQ(e_.SettingDifferenceSec(), r.diff);
        EXPECT_FLOAT_EQ(e_.SettingDifferenceFrac(), r.diff_frac);
        if (r.corrected == 0)
            EXPECT_EQ(e_.NISTCorrDateTime(), 0);
        else
            EXPECT_EQ(corrected(), platform::date_to_parts(r.corrected));
    }
    at(make_date(2026, 7, 1, 23, 59, 59));
    nist("Server: 26-07-02 00:00:01");
    EXPECT_TRUE(e_.SystemDateChange());
    nist("Server: 26-07-03 00:00:01");
    EXPECT_FALSE(e_.SystemDateChange());
    e_.SystemTZbias(-1);
    int16_t status = -1;
    e_.NIST_compare_time(status);
    EXPECT_EQ(status, kStatusTimeZoneError);
}

TEST_F(Comparison, DaylightTimeFromTheSystemElseFromTheServer) {
    // With no daylight information from the system (state 0) the server's code decides: one counting
    // down (49) is not yet daylight time. A system's standard time (1) wins over the server's code.
    for (const auto& [state, code, hour] : {std::tuple{2, 0, 8}, {0, 49, 7}, {0, 50, 8}, {1, 50, 7}}) {
        SCOPED_TRACE(::testing::Message() << state << " " << code);
        at(make_date(2026, 7, 1, 12, 0, 5), 300, -60, state);
        e_.NIST_parse_string("Server: 26-07-01 12:00:00");
        e_.NISTDST(static_cast<int16_t>(code));
        int16_t status = -1;
        e_.NIST_compare_time(status);
        EXPECT_EQ(status, kStatusSettingMade);
        EXPECT_EQ(corrected(), platform::date_to_parts(make_date(2026, 7, 1, hour, 0, 0)));
    }
}

TEST_F(Comparison, DaytimeAndTimeProtocolTexts) {
    config::options().ServerFormat(1);
    config::options().SetMinThreshold(2000);  // milliseconds, as for every other format
    at(make_date(2026, 7, 1, 12, 0, 0), 300, -60, 2);
    // A daytime server in the local zone: no system correction applies.
    EXPECT_EQ(compare("7/1/2026 08:00:03"), kStatusSettingMade);
    EXPECT_EQ(e_.SettingDifferenceSec(), 3);
    EXPECT_EQ(compare("7/1/2026 08:00:01"), kStatusBelowMinimum);
    EXPECT_EQ(e_.SettingDifferenceSec(), 0);

    config::options().SetMinThreshold(500);
    config::options().ServerTZDiff("2");
    EXPECT_EQ(compare("7/1/2026 10:00:10"), kStatusSettingMade);
    EXPECT_EQ(corrected(), platform::date_to_parts(make_date(2026, 7, 1, 8, 0, 10)));

    // Time-protocol replies are UTC.
    config::options().ServerFormat(3);
    EXPECT_EQ(compare("7/1/2026 12:00:10"), kStatusSettingMade);
    EXPECT_EQ(corrected().hour, 8);
}

TEST_F(Comparison, NtpRepliesCompareToTheMillisecond) {
    testing::DebugCapture log;
    config::options().SetMinThreshold(100);
    at(make_date(2026, 12, 5, 12, 0, 0, 250), 300, -60, 2);
    const auto seconds = CNISTtimeset::date_to_byte(make_date(2026, 12, 5, 12, 0, 0));
    std::array<uint8_t, 48> reply{};
    reply[0] = 0x24;
    std::copy(seconds.begin(), seconds.end(), reply.begin() + 40);
    reply[44] = 0x80;
    ASSERT_TRUE(CNISTtimesetAccess::decode_ntp_reply(e_, reply));
    EXPECT_EQ(e_.NISTServerHealth(), 0);
    EXPECT_FLOAT_EQ(e_.NISTSecFrac(), 0.5f);
    int16_t status = -1;
    CNISTtimesetAccess::compare_ntp_time(e_, status);
    EXPECT_EQ(status, kStatusSettingMade);
    EXPECT_EQ(corrected(), platform::date_to_parts(make_date(2026, 12, 5, 8, 0, 0)));
    EXPECT_FLOAT_EQ(e_.SettingDifferenceFrac(), 0.25f);

    config::options().SetMinThreshold(500);
    CNISTtimesetAccess::compare_ntp_time(e_, status);
    EXPECT_EQ(status, kStatusBelowMinimum);
    EXPECT_TRUE(log.has(" 5: Timediff < minimum of 500 msec "));
}

TEST(NtpReplies, ModeByteAndPlausibility) {
    testing::DebugCapture log;
    // Server (4) and broadcast (5) modes of versions 3 and 4 are accepted.
    for (const auto& [mode, ok] : {std::pair{0x24, true}, {0x1C, true}, {0x25, true}, {0x23, false}, {0x27, false},
                                   {0x21, false}})
        EXPECT_EQ(CNISTtimesetAccess::check_ntp_mode(static_cast<uint8_t>(mode)), ok) << mode;
    EXPECT_TRUE(log.has("-is a client (should be a server)"));
    EXPECT_TRUE(log.has("Unknown mode: 33"));

    CNISTtimeset e;
    std::array<uint8_t, 48> reply{};
    reply[0] = 0x24;
    EXPECT_FALSE(CNISTtimesetAccess::decode_ntp_reply(e, reply));  // 1900
    EXPECT_TRUE(log.has("Bad year"));
    EXPECT_FALSE(CNISTtimesetAccess::check_reply_date(std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(CNISTtimesetAccess::decode_ntp_reply(e, std::span<const uint8_t>(reply).first(10)));

    // A client-mode peer still gives a date, but an unhealthy server.
    const auto seconds = CNISTtimeset::date_to_byte(make_date(2026, 12, 5, 12, 0, 0));
    std::copy(seconds.begin(), seconds.end(), reply.begin() + 40);
    reply[0] = 0x23;
    EXPECT_TRUE(CNISTtimesetAccess::decode_ntp_reply(e, reply));
    EXPECT_EQ(e.NISTServerHealth(), 3);

    EXPECT_TRUE(CNISTtimesetAccess::decode_time_reply(e, seconds));
    EXPECT_EQ(e.NISTDate(), "12/5/2026 12:00:00 PM");
    EXPECT_FALSE(CNISTtimesetAccess::decode_time_reply(e, std::array<uint8_t, 4>{0x10, 0, 0, 0}));

    EXPECT_EQ(setting_status_text(200), "String was corrupt or format was wrong");
    EXPECT_EQ(setting_status_text(-3), "Error Code: -3");
}

} // namespace
} // namespace ktr::engine
