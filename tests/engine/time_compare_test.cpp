#include <gtest/gtest.h>

#include "config/options.h"
#include "engine/nist_timeset.h"
#include "engine_test_support.h"
#include "fakes/fake_clock.h"
#include "fakes/scoped_locale.h"
#include "platform/date_value.h"

namespace ktr::engine {
namespace {

using platform::make_date;

// The engine in a fixed zone, with thresholds of one hour and half a second.
class Comparison : public ::testing::Test {
protected:
    Comparison() {
        saved_ = config::options();
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
    void server(const char* date, const char* time, float frac = 0) {
        e_.NISTDate(date);
        ASSERT_TRUE(e_.NIST_parse_string(std::string("Server: ") + date + " " + time));
        e_.NISTSecFrac(frac);
    }
    int16_t nist() {
        int16_t status = -1;
        e_.NIST_compare_time(status);
        return status;
    }
    platform::DateParts corrected() const { return platform::date_to_parts(e_.NISTCorrDateTime()); }

    config::COptions saved_;
    ktr::testing::FakeClock clock_;
    ktr::testing::ScopedFakeClock scoped_{clock_};
    ktr::testing::ScopedLocale locale_{platform::us_locale()};
    CNISTtimeset e_;
};

TEST_F(Comparison, TwoDigitNistYearsAreThisCentury) {
    at(make_date(2025, 12, 5, 12, 0, 10));
    server("25-12-05", "12:00:00");
    EXPECT_EQ(nist(), kStatusSettingMade);
    EXPECT_EQ(corrected(), platform::date_to_parts(make_date(2025, 12, 5, 12, 0, 0)));
    EXPECT_EQ(e_.SettingDifferenceSec(), -10);

    server("2025-12-05", "12:00:20");
    EXPECT_EQ(nist(), kStatusSettingMade);
    EXPECT_EQ(e_.SettingDifferenceSec(), 10);
}

TEST_F(Comparison, DaylightTimeFromTheSystemElseFromTheServer) {
    testing::DebugCapture log;
    at(make_date(2026, 7, 1, 12, 0, 5), 300, -60, 2);
    server("26-07-01", "12:00:00");
    EXPECT_EQ(nist(), kStatusSettingMade);
    EXPECT_EQ(corrected(), platform::date_to_parts(make_date(2026, 7, 1, 8, 0, 0)));
    EXPECT_TRUE(log.has("System SAYS DST is ON"));

    // No daylight information from the system: a NIST code counting down (49) is not yet daylight time.
    at(make_date(2026, 7, 1, 12, 0, 5), 300, -60, 0);
    server("26-07-01", "12:00:00");
    e_.NISTDST(49);
    EXPECT_EQ(nist(), kStatusSettingMade);
    EXPECT_EQ(corrected().hour, 7);
    EXPECT_TRUE(log.has("NIST SAYS DST is OFF"));
    e_.NISTDST(50);
    EXPECT_EQ(nist(), kStatusSettingMade);
    EXPECT_EQ(corrected().hour, 8);

    // Standard time reported by the system wins over the server's code.
    at(make_date(2026, 7, 1, 12, 0, 5), 300, -60, 1);
    EXPECT_EQ(nist(), kStatusSettingMade);
    EXPECT_EQ(corrected().hour, 7);
    EXPECT_TRUE(log.has("System SAYS DST is OFF"));
}

TEST_F(Comparison, ConsoleDatesInTheLocaleOrderAreReadAsTheyCame) {
    at(make_date(2026, 12, 5, 5, 37, 30));
    ASSERT_TRUE(e_.NIST_parse_string("S+ 12/05/2026 05:37:32 250"));
    EXPECT_EQ(nist(), kStatusSettingMade);
    EXPECT_EQ(corrected(), platform::date_to_parts(make_date(2026, 12, 5, 5, 37, 32)));
}

TEST_F(Comparison, RefusesWhatCannotBeCompared) {
    at(make_date(2026, 7, 1, 12, 0, 0));
    server("26-07-01", "12:00:00");
    e_.SystemTZbias(-1);
    EXPECT_EQ(nist(), kStatusTimeZoneError);
    e_.SystemTZbias(0);
    ASSERT_TRUE(e_.NIST_parse_string("Server: 26-13-45 99:00:00"));
    EXPECT_EQ(nist(), kStatusNotADate);
    EXPECT_EQ(e_.NISTCorrDateTime(), 0);
}

TEST_F(Comparison, DateChangeAcrossMidnight) {
    at(make_date(2026, 7, 1, 23, 59, 59));
    server("26-07-02", "00:00:01");
    EXPECT_EQ(nist(), kStatusSettingMade);
    EXPECT_TRUE(e_.SystemDateChange());
    EXPECT_EQ(e_.SettingDifferenceSec(), 2);

    server("26-07-03", "00:00:01");
    EXPECT_EQ(nist(), kStatusDatesChanged);
    EXPECT_EQ(corrected(), platform::date_to_parts(make_date(2026, 7, 3, 0, 0, 1)));
    EXPECT_FALSE(e_.SystemDateChange());
}

TEST_F(Comparison, MaximumThresholdIsInclusive) {
    config::options().SetMaxThreshold(60);
    at(make_date(2026, 7, 1, 12, 1, 0));
    server("26-07-01", "12:00:00");
    EXPECT_EQ(nist(), kStatusSettingMade);
    server("26-07-01", "11:59:59");
    EXPECT_EQ(nist(), kStatusAboveMaximum);
    EXPECT_EQ(e_.NISTCorrDateTime(), 0);
    EXPECT_EQ(e_.SettingDifferenceSec(), -61);
}

TEST_F(Comparison, SmallDifferencesAreLeftUnlessForced) {
    config::options().SetMinThreshold(2000);
    at(make_date(2026, 7, 1, 12, 0, 0));
    server("26-07-01", "12:00:01");
    EXPECT_EQ(nist(), kStatusBelowMinimum);
    EXPECT_EQ(e_.SettingDifferenceSec(), 0);
    EXPECT_EQ(e_.NISTCorrDateTime(), 0);

    ASSERT_TRUE(e_.NIST_parse_string("F+ 26-07-01 12:00:01 0"));
    EXPECT_EQ(nist(), kStatusBelowMinimum);
    EXPECT_EQ(e_.SettingDifferenceSec(), 1);
    EXPECT_EQ(corrected(), platform::date_to_parts(make_date(2026, 7, 1, 12, 0, 1)));

    server("26-07-01", "12:00:02");
    EXPECT_EQ(nist(), kStatusSettingMade);  // exactly the minimum
}

TEST_F(Comparison, FractionsDecideTheDirectionAndTheSize) {
    at(make_date(2026, 7, 1, 12, 0, 0, 250));
    server("26-07-01", "12:00:00", 0.75f);
    EXPECT_EQ(nist(), kStatusSettingMade);
    EXPECT_EQ(e_.SettingDifferenceSec(), 0);
    EXPECT_FLOAT_EQ(e_.SettingDifferenceFrac(), 0.5f);

    e_.NISTSecFrac(0.5f);
    at(make_date(2026, 7, 1, 12, 0, 0, 750));
    EXPECT_EQ(nist(), kStatusBelowMinimum);
    EXPECT_FLOAT_EQ(e_.SettingDifferenceFrac(), 0.25f);
}

TEST_F(Comparison, TimeOffsetIsTakenFromTheClockFirst) {
    config::options().msecTimeOffset(5000);
    at(make_date(2026, 7, 1, 12, 0, 5));
    server("26-07-01", "12:00:00");
    EXPECT_EQ(nist(), kStatusBelowMinimum);
    EXPECT_EQ(e_.SettingDifferenceSec(), 0);
}

TEST_F(Comparison, DaytimeMinimumIsInMilliseconds) {
    config::options().ServerFormat(1);
    config::options().SetMinThreshold(2000);
    at(make_date(2026, 7, 1, 12, 0, 0), 300, -60, 2);
    int16_t status = -1;
    // A daytime server in the local zone: no system correction applies.
    e_.compare_time("7/1/2026 08:00:03", status);
    EXPECT_EQ(status, kStatusSettingMade);
    EXPECT_EQ(e_.SettingDifferenceSec(), 3);
    e_.compare_time("7/1/2026 08:00:01", status);
    EXPECT_EQ(status, kStatusBelowMinimum);
    EXPECT_EQ(e_.SettingDifferenceSec(), 0);
}

TEST_F(Comparison, DaytimeServerZoneAndOtherFormats) {
    testing::DebugCapture log;
    config::options().ServerFormat(1);
    config::options().ServerTZDiff("2");
    at(make_date(2026, 7, 1, 12, 0, 0), 300, -60, 2);
    int16_t status = -1;
    e_.compare_time("7/1/2026 10:00:10", status);
    EXPECT_EQ(status, kStatusSettingMade);
    EXPECT_EQ(corrected(), platform::date_to_parts(make_date(2026, 7, 1, 8, 0, 10)));
    EXPECT_TRUE(log.has("Corrected Daytime Time: "));

    config::options().ServerTZDiff("");
    e_.compare_time("7/1/2026 08:00:10", status);
    EXPECT_EQ(status, kStatusSettingMade);
    EXPECT_TRUE(log.has("No time zone"));

    // Time-protocol replies are UTC.
    config::options().ServerFormat(3);
    e_.compare_time("7/1/2026 12:00:10", status);
    EXPECT_EQ(status, kStatusSettingMade);
    EXPECT_EQ(corrected().hour, 8);
    EXPECT_TRUE(log.has("Corrected TZ Time: "));
}

TEST_F(Comparison, NtpRepliesCompareToTheMillisecond) {
    testing::DebugCapture log;
    config::options().SetMinThreshold(100);
    at(make_date(2026, 12, 5, 12, 0, 0, 250), 300, -60, 2);
    const std::array<uint8_t, 4> seconds = CNISTtimeset::date_to_byte(make_date(2026, 12, 5, 12, 0, 0));
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
    EXPECT_TRUE(CNISTtimesetAccess::check_ntp_mode(0x24));
    EXPECT_TRUE(CNISTtimesetAccess::check_ntp_mode(0x1C));  // version 3, mode 4
    EXPECT_TRUE(CNISTtimesetAccess::check_ntp_mode(0x25));  // broadcast
    EXPECT_FALSE(CNISTtimesetAccess::check_ntp_mode(0x23));
    EXPECT_TRUE(log.has("-is a client (should be a server)"));
    EXPECT_FALSE(CNISTtimesetAccess::check_ntp_mode(0x27));
    EXPECT_FALSE(CNISTtimesetAccess::check_ntp_mode(0x21));
    EXPECT_TRUE(log.has("Unknown mode: 33"));

    CNISTtimeset e;
    std::array<uint8_t, 48> reply{};
    reply[0] = 0x24;
    EXPECT_FALSE(CNISTtimesetAccess::decode_ntp_reply(e, reply));  // 1900
    EXPECT_TRUE(log.has("Bad year"));
    EXPECT_TRUE(log.has("Protocol Error."));
    EXPECT_FALSE(CNISTtimesetAccess::check_reply_date(std::numeric_limits<double>::infinity()));
    EXPECT_TRUE(log.has("Bad date"));
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
}

TEST(StatusTexts, KnownAndUnknownCodes) {
    EXPECT_EQ(setting_status_text(0), "Clock setting made");
    EXPECT_EQ(setting_status_text(200), "String was corrupt or format was wrong");
    EXPECT_EQ(setting_status_text(15), "Error Code: 15");
    EXPECT_EQ(setting_status_text(-3), "Error Code: -3");
}

} // namespace
} // namespace ktr::engine
