// One sync run end to end inside the engine: decoder choice, outcome, setting and the window's callbacks.
#include <gtest/gtest.h>

#include <vector>

#include "config/options.h"
#include "engine/nist_timeset.h"
#include "engine_test_support.h"
#include "fakes/fake_clock.h"
#include "fakes/scoped_locale.h"
#include "platform/date_value.h"

namespace ktr::engine {
namespace {

using platform::make_date;

// What the window was told, in order.
struct RecordingDisplay : SyncDisplay {
    std::vector<std::string> calls;
    int16_t sntp_ms = -1;
    void DisplayNoChange() override { calls.push_back("NoChange"); }
    float DisplaySync(double, double) override {
        calls.push_back("Sync");
        return 0;
    }
    float DisplaySync(int16_t ms, float, double, double) override {
        calls.push_back("SyncDirect");
        sntp_ms = ms;
        return 0;
    }
    void NISTdone() override { calls.push_back("Done"); }
};

// An SNTP server reply (mode 4) whose transmit timestamp is the UTC date value.
std::vector<uint8_t> sntp_reply(double utc, uint8_t mode_byte = 0x1C) {
    std::vector<uint8_t> p(48, 0);
    p[0] = mode_byte;
    const double seconds = (utc - 2.0) * 86400.0;
    const auto whole = static_cast<uint32_t>(seconds);
    const auto frac = static_cast<uint32_t>((seconds - whole) * 4294967296.0);
    for (int i = 0; i < 4; ++i) {
        p[40 + i] = static_cast<uint8_t>(whole >> (24 - 8 * i));
        p[44 + i] = static_cast<uint8_t>(frac >> (24 - 8 * i));
    }
    return p;
}

class SyncRun : public ::testing::Test {
protected:
    SyncRun() {
        saved_ = config::options();
        config::options() = config::COptions{};
        config::options().SetMaxThreshold(86400);
        config::options().SetMinThreshold(300);
        config::options().SettingMode(2);
        e_.System_get_timezone();
    }
    ~SyncRun() override { config::options() = saved_; }

    void run(std::string_view text) { e_.DataArrived(text, display_); }
    void run(const std::vector<uint8_t>& bytes) { e_.DataArrived(std::span<const uint8_t>(bytes), display_); }
    platform::DateParts utc() { return clock_.utc_now(); }

    config::COptions saved_;
    ktr::testing::FakeClock clock_{make_date(2026, 12, 5, 5, 37, 32)};
    ktr::testing::ScopedFakeClock scoped_{clock_};
    ktr::testing::ScopedLocale locale_{platform::us_locale()};
    testing::DebugCapture debug_;
    RecordingDisplay display_;
    CNISTtimeset e_;
};

using Calls = std::vector<std::string>;

TEST_F(SyncRun, AConsoleSetTenMinutesAheadSetsTheClockToTheMillisecond) {
    run("S+ 26-12-05 05:47:32 250");
    EXPECT_EQ(e_.SettingStatus(), kStatusSettingMade);
    EXPECT_EQ(display_.calls, (Calls{"Sync", "Done"}));
    const platform::DateParts now = utc();
    EXPECT_EQ(now.minute, 47);
    EXPECT_EQ(now.second, 32);
    EXPECT_EQ(now.millisecond, 250);
    EXPECT_EQ(e_.SettingDifferenceSec(), 600);
    EXPECT_TRUE(debug_.has("DATA ARRIVED Event"));
    EXPECT_TRUE(debug_.has("Data Arrived at: 5:37:32.0"));
    EXPECT_TRUE(debug_.has("DATA ARRIVED DONE"));
}

TEST_F(SyncRun, BelowTheMinimumOnlyAForceSets) {
    run("S+ 26-12-05 05:37:32 200");
    EXPECT_EQ(e_.SettingStatus(), kStatusBelowMinimum);
    EXPECT_EQ(display_.calls, (Calls{"NoChange", "Done"}));
    EXPECT_EQ(clock_.set_calls(), 0);
    EXPECT_TRUE(debug_.has("...No Time difference No time set"));

    display_.calls.clear();
    run("F+ 26-12-05 05:37:32 200");
    EXPECT_EQ(e_.SettingStatus(), kStatusBelowMinimum);
    EXPECT_EQ(display_.calls, (Calls{"Sync", "Done"}));
    EXPECT_EQ(clock_.set_calls(), 1);
    EXPECT_EQ(utc().millisecond, 200);
}

TEST_F(SyncRun, BatchModeSetsWithoutShowing) {
    config::options().SettingMode(0);
    run("S+ 26-12-05 05:47:32 0");
    EXPECT_EQ(display_.calls, (Calls{"Done"}));
    EXPECT_EQ(utc().minute, 47);
}

TEST_F(SyncRun, ServerAndStringFailuresEndInTheirStatusAndStillReportDone) {
    run("61014 26-12-05 05:37:40 00 0 1 45.0 UTC(NIST) *");
    EXPECT_EQ(e_.SettingStatus(), kStatusServerError);
    EXPECT_TRUE(debug_.has("...Error in server"));
    run("61014 26-12-05 05:37:40 00 0 0 1000.1 UTC(NIST) *");
    EXPECT_EQ(e_.SettingStatus(), kStatusServerError);
    run("61014 26-12-05 05:47:40 00 0 0 1000 UTC(NIST) *");
    EXPECT_EQ(e_.SettingStatus(), kStatusSettingMade) << "an advance of exactly one second passes";

    run("hello world");
    EXPECT_EQ(e_.SettingStatus(), kStatusBadString);
    EXPECT_TRUE(debug_.has("...Error in parsing"));
    run("S+ 26-13-45 99:99:99 x");
    EXPECT_EQ(e_.SettingStatus(), kStatusNotADate);
    EXPECT_TRUE(debug_.has("..Error 1 in time setting. No time set"));

    config::options().ServerFormat(6);
    run("anything");
    EXPECT_EQ(e_.SettingStatus(), kStatusUnknownFormat);
    EXPECT_TRUE(debug_.has("..Unknown timeserver format. No time set"));
    EXPECT_EQ(std::count(display_.calls.begin(), display_.calls.end(), "Done"), 6);
}

TEST_F(SyncRun, TheActsConnectionAndTheDaytimeFormatsPickTheirParsers) {
    config::options().ServerConn(2);
    run("61014 26-12-05 05:47:32 00 0 +.1 045.0 UTC(NIST) *");
    EXPECT_TRUE(debug_.has("ACTS:"));
    EXPECT_EQ(e_.SettingStatus(), kStatusSettingMade);

    config::options().ServerConn(0);
    config::options().ServerFormat(1);
    config::options().ServerCustomFormat("");
    run("Sat Dec  5 05:57:32 2026");
    EXPECT_EQ(e_.SettingStatus(), kStatusSettingMade);
    config::options().ServerCustomFormat("yyyy-mm-dd Hh:Nn:Ss");
    run("not a date at all");
    EXPECT_EQ(e_.SettingStatus(), kStatusBadString);
}

TEST_F(SyncRun, AnSntpReplyEqualToTheClockIsInSync) {
    config::options().ServerFormat(2);
    config::options().SetMinThreshold(0);
    run(sntp_reply(clock_.utc()));
    EXPECT_EQ(e_.SettingStatus(), kStatusClocksInSync);
    EXPECT_EQ(display_.calls, (Calls{"NoChange", "Done"}));
    EXPECT_EQ(clock_.set_calls(), 0);
    EXPECT_TRUE(debug_.has("Clocks in sync - no need to set"));
    EXPECT_TRUE(debug_.has("...Clocks in sync"));
    EXPECT_EQ(setting_status_text(kStatusClocksInSync), "Error Code: 15");
}

TEST_F(SyncRun, AnSntpReplyWithinTheMinuteIsSetDirectlyOnce) {
    config::options().ServerFormat(2);
    config::options().SetMinThreshold(0);
    run(sntp_reply(make_date(2026, 12, 5, 5, 37, 50, 500)));
    EXPECT_TRUE(debug_.has("Direct setting of NIST system time"));
    EXPECT_EQ(display_.calls, (Calls{"SyncDirect", "Done"}));
    EXPECT_EQ(display_.sntp_ms, 500);
    EXPECT_EQ(clock_.set_calls(), 1) << "the comparison after the direct setting does not set again";
    EXPECT_EQ(utc().second, 50);
}

TEST_F(SyncRun, AnSntpReplyFromAClientOrOfAnotherMinuteIsNotSetDirectly) {
    config::options().ServerFormat(2);
    config::options().SetMinThreshold(0);
    run(sntp_reply(clock_.utc(), 0x1B));
    EXPECT_EQ(e_.SettingStatus(), kStatusServerError);

    run(sntp_reply(make_date(2026, 12, 5, 5, 40, 0)));
    EXPECT_FALSE(debug_.has("Direct setting of NIST system time"));
    EXPECT_EQ(e_.SettingStatus(), kStatusSettingMade);
    EXPECT_EQ(utc().minute, 40);

    run(std::vector<uint8_t>(10, 0));
    EXPECT_EQ(e_.SettingStatus(), kStatusBadString);
}

TEST_F(SyncRun, ADateFarAwayChangesTheDate) {
    run("S+ 26-12-08 05:37:32 0");
    EXPECT_EQ(e_.SettingStatus(), kStatusDatesChanged);
    EXPECT_EQ(utc().day, 8);
}

} // namespace
} // namespace ktr::engine
