// One sync run inside the engine: decoder choice, outcome, setting and the window's callbacks.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine/nist_timeset.h"
#include "engine/ntp_codec.h"
#include "fakes/module_state.h"

namespace ktr::engine {
namespace {

using platform::make_date;
using Calls = std::vector<std::string>;

// What the window was told, in order.
struct RecordingDisplay : SyncDisplay {
    Calls calls;
    int16_t sntp_ms = -1;
    float shown(const char* call) { calls.push_back(call); return 0; }
    void DisplayNoChange() override { shown("NoChange"); }
    float DisplaySync(double, double) override { return shown("Sync"); }
    float DisplaySync(int16_t ms, float, double, double) override { return sntp_ms = ms, shown("SyncDirect"); }
    void NISTdone() override { shown("Done"); }
};

// An SNTP reply whose transmit timestamp is the UTC date value (whole seconds) and the fraction.
std::vector<uint8_t> sntp_reply(double utc, float fraction = 0, uint8_t mode_byte = 0x1C) {
    std::vector<uint8_t> p(48, 0);
    p[0] = mode_byte;
    std::ranges::copy(date_to_byte(utc), p.begin() + 40);
    std::ranges::copy(frac_to_bytes(fraction), p.begin() + 44);
    return p;
}

class SyncRun : public testing::ModuleStateTest {
protected:
    SyncRun() {
        clock_.set_utc(make_date(2026, 12, 5, 5, 37, 32));
        config::options().SetMaxThreshold(86400);
        config::options().SetMinThreshold(300);
        config::options().SettingMode(config::kModeManual);
        e_.System_get_timezone();
    }
    // A text or the bytes of a reply; what the window was told.
    template <class Data> Calls run(const Data& data, Sender sender = Sender::TimeServer) {
        display_.calls.clear();
        e_.DataArrived(data, display_, sender);
        return display_.calls;
    }
    platform::DateParts utc() { return clock_.utc_now(); }

    RecordingDisplay display_;
    CNISTtimeset e_;
};

// Below the minimum only a force sets, to the millisecond; batch mode sets without showing. What a set
// stores and how far it moves the clock are the main window's and the comparison's tests.
TEST_F(SyncRun, ConsoleSetsAndForces) {
    EXPECT_EQ(run("S+ 26-12-05 05:37:32 200"), (Calls{"NoChange", "Done"}));
    EXPECT_TRUE(e_.SettingStatus() == config::kStatusBelowMinimum && clock_.set_calls() == 0);
    EXPECT_EQ(run("F+ 26-12-05 05:37:32 200"), (Calls{"Sync", "Done"}));
    EXPECT_EQ(utc().millisecond, 200);
    config::options().SettingMode(config::kModeBatch);
    EXPECT_EQ(run("S+ 26-12-05 05:57:32 0"), (Calls{"Done"}));
    EXPECT_TRUE(e_.SettingStatus() == config::kStatusSettingMade && utc().minute == 57);
}

TEST_F(SyncRun, EachFormatPicksItsDecoderAndFailuresEndInTheirStatus) {
    struct Row { int16_t format, conn; const char* custom; const char* text; int16_t status; const char* trace; };
    const Row rows[] = {
        {0, 0, "", "61014 26-12-05 05:37:40 00 0 1 45.0 UTC(NIST) *", config::kStatusServerError, "...Error in server"},
        {0, 0, "", "61014 26-12-05 05:37:40 00 0 0 1000.1 UTC(NIST) *", config::kStatusServerError, nullptr},
        {0, 0, "", "61014 26-12-05 05:47:40 00 0 0 1000 UTC(NIST) *", config::kStatusSettingMade, nullptr},
        {0, 0, "", "hello world", config::kStatusBadString, "...Error in parsing"},
        {0, 0, "", "S+ 26-13-45 99:99:99 x", config::kStatusNotADate, "..Error 1 in time setting. No time set"},
        {0, 2, "", "61014 26-12-05 05:57:40 00 0 +.1 045.0 UTC(NIST) *", config::kStatusSettingMade, "ACTS:"},
        {1, 0, "", "Sat Dec  5 06:07:40 2026", config::kStatusSettingMade, nullptr},
        {1, 0, "ddd mmm dd Hh:Nn:Ss yyyy", "Sat Dec  5 06:17:40 2026", config::kStatusSettingMade, nullptr},
        {1, 0, "yyyy-mm-dd Hh:Nn:Ss", "not a date at all", config::kStatusBadString, "Custom_parse_string"},
        {6, 0, "", "anything", config::kStatusUnknownFormat, "..Unknown timeserver format. No time set"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.text);
        config::options().ServerFormat(r.format);
        config::options().ServerConn(r.conn);
        config::options().ServerCustomFormat(r.custom);
        EXPECT_EQ(run(r.text).back(), "Done");
        EXPECT_EQ(e_.SettingStatus(), r.status);
        EXPECT_TRUE(!r.trace || traced(r.trace));
    }
    EXPECT_EQ(utc().minute, 17);
}

TEST_F(SyncRun, SntpRepliesInSyncWithinTheMinuteFromAClientOrFromTheConsole) {
    config::options().ServerFormat(config::kServerSntp);
    config::options().SetMinThreshold(0);
    struct Row { double utc; float frac; uint8_t mode; Sender sender; Calls calls; int16_t status; int sets; };
    const double now = clock_.utc(), later = make_date(2026, 12, 5, 5, 47, 32);
    const Sender server = Sender::TimeServer;
    const Row rows[] = {
        {now, 0, 0x1C, server, {"NoChange", "Done"}, config::kStatusClocksInSync, 0},
        {now, 0, 0x1B, server, {"Done"}, config::kStatusServerError, 0},
        // Within the minute the reply is set directly, and the comparison after it does not set again.
        {make_date(2026, 12, 5, 5, 37, 50), 0.5f, 0x1C, server, {"SyncDirect", "Done"}, config::kStatusSettingMade, 1},
        {make_date(2026, 12, 5, 5, 40, 0), 0, 0x1C, server, {"Sync", "Done"}, config::kStatusSettingMade, 1},
        // The console's "S" is its command (the end-to-end test sets by it), not the client mode that the same
        // byte means in a server's reply.
        {later, 0, 'S', server, {"Done"}, config::kStatusServerError, 0},
    };
    for (const Row& r : rows) {
        clock_.set_utc(now);
        const int sets = clock_.set_calls();
        EXPECT_EQ(run(sntp_reply(r.utc, r.frac, r.mode), r.sender), r.calls);
        EXPECT_EQ(e_.SettingStatus(), r.status);
        EXPECT_EQ(clock_.set_calls() - sets, r.sets);
        const double expected = r.sets ? r.utc + r.frac / 86400 : now;
        EXPECT_EQ(platform::date_to_parts(clock_.utc()), platform::date_to_parts(expected));
    }
    EXPECT_EQ(display_.sntp_ms, 500);
    run(std::vector<uint8_t>(10, 0));
    EXPECT_EQ(e_.SettingStatus(), config::kStatusBadString);
}

} // namespace
} // namespace ktr::engine
