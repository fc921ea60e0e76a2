#include "records/error_report.h"

#include <gtest/gtest.h>

#include "config/options.h"
#include "fakes/fake_clock.h"
#include "fakes/temp_dir.h"
#include "platform/date_value.h"
#include "platform/event_log.h"
#include "platform/pending_error.h"
#include "records/debug_log.h"

namespace ktr::records {
namespace {

class ErrorReportTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved = debug_state();
        debug_state().on = true;
        debug_state().to_file = true;
        debug_state().file_path = dir.file("DebugFile.txt");
        set_debug_file_mode(true);
        platform::clear_pending_error();
    }
    void TearDown() override {
        set_debug_file_mode(false);
        debug_state() = saved;
        config::options().LoggingNTEvntOn(false);
        platform::clear_pending_error();
    }
    // The debug file without the "mode is now on" line.
    std::string trace() const {
        std::string all = dir.read("DebugFile.txt");
        return all.substr(all.find("\r\n") + 2);
    }

    testing::TempDir dir;
    testing::FakeClock fake{platform::make_date(2026, 12, 5, 5, 52, 15)};
    testing::ScopedFakeClock use{fake};
    DebugState saved;
};

TEST_F(ErrorReportTest, InformationWithoutPendingErrorStillTraces) {
    EXPECT_EQ(error_report(1, "ReadInSetting error", "modMain", "ReadInFile", 7), 0);
    EXPECT_EQ(trace(),
              "12-05 05:52:15  ERROR  Severity:1, Err:0, Desc:, Origination: modMain\r\n"
              "ID: ReadInFile 7, Msg:ReadInSetting error, Resp:0\r\n");
}

TEST_F(ErrorReportTest, ErrorsAndCriticalsNeedARealFailure) {
    EXPECT_EQ(error_report(3, "m", "mod", "proc", 1), 0);
    EXPECT_EQ(error_report(4, "m", "mod", "proc", 2), 0);
    EXPECT_EQ(error_report(7, "m", "mod", "proc", 3), 0);  // above 4 behaves as 3
    EXPECT_EQ(trace(), "");
}

TEST_F(ErrorReportTest, PendingErrorIsReportedAndCleared) {
    platform::set_pending_error(5, "Access is denied.");
    EXPECT_EQ(error_report(3, "Create key error", "modRegistryTools", "CreateNewKey", 901), 0);
    EXPECT_EQ(platform::pending_error().number, 0);
    EXPECT_EQ(trace(),
              "12-05 05:52:15  ERROR  Severity:3, Err:5, Desc:Access is denied., Origination: modRegistryTools\r\n"
              "ID: CreateNewKey 901, Msg:Create key error, Resp:0\r\n");
}

struct RecordedEvent {
    std::string source;
    int type;
    int32_t id;
    std::string text;
};

TEST_F(ErrorReportTest, EventLogGetsProblemsAsInformationAndErrorsAsWarnings) {
    std::vector<RecordedEvent> events;
    platform::set_event_recorder([&](std::string_view src, int type, int32_t id, std::string_view text) {
        events.push_back({std::string(src), type, id, std::string(text)});
        return true;
    });
    config::options().LoggingNTEvntOn(true);
    error_report(1, "info", "m", "p", 1);  // Information never reaches the event log
    error_report(2, "problem", "modX", "proc", 2);
    platform::set_pending_error(13, "The data is invalid.");
    error_report(4, "critical", "modY", "crit", 3);
    platform::set_event_recorder({});

    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].source, "Ktrsvc");
    EXPECT_EQ(events[0].type, 4);
    EXPECT_EQ(events[0].id, 1);
    EXPECT_EQ(events[0].text, "problem\rOrigination: modX\r\nID: proc 2\r ");
    EXPECT_EQ(events[1].type, 2);
    EXPECT_EQ(events[1].text,
              "critical\rOrigination: modY\r\nID: crit 3\rSystem Error: 13\rDescription: The data is invalid."
              "\r\rDo you wish to continue?");
}

TEST_F(ErrorReportTest, SeverityBelowOneBehavesAsInformation) {
    EXPECT_EQ(error_report(-3, "low", "m", "p", 0), 0);
    EXPECT_NE(trace().find("Severity:-3, Err:0"), std::string::npos);
}

TEST_F(ErrorReportTest, NothingTracedWhileDebugOff) {
    debug_state().on = false;
    platform::set_pending_error(2, "x");
    error_report(2, "m", "mod", "proc", 1);
    EXPECT_EQ(trace(), "");
    EXPECT_EQ(platform::pending_error().number, 0);
}

} // namespace
} // namespace ktr::records
