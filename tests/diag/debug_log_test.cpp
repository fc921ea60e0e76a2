#include "diag/debug_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>

#include "diag/error_report.h"
#include "fakes/module_state.h"

namespace ktr::diag {
namespace {

using DebugLog = testing::ModuleStateTest;

TEST_F(DebugLog, StampedLinesOpenPiecesAndFileModeOff) {
    for (const auto& [text, keep_open] : {std::pair{"New minute", false}, {"A", true}, {"B", false}, {"X", true},
                                          {"Y", true}, {"Z", false}})
        debug_write(text, keep_open);
    debug_state().to_file = false;
    debug_write("lost", true);  // the open request is forgotten with the line
    debug_state().to_file = true;
    debug_write("kept");
    const std::string s = kStamp;
    EXPECT_EQ(debug_text(), s + "Debug FILE mode is now on.\r\n" + s + "New minute\r\n" + s + "AB\r\n" + s + "X" + s +
                                "YZ\r\n" + s + "kept\r\n");
}

TEST_F(DebugLog, MarkerFileSwitchesFileModeOnAndOff) {
    set_debug_file_mode(false);
    debug_state().to_file = false;
    EXPECT_FALSE(check_debug_marker(false));
    dir_.write("debug.txt", "");
    EXPECT_TRUE(check_debug_marker(false));
    EXPECT_TRUE(debug_state().to_file);
    const size_t written = debug_text().size();
    EXPECT_TRUE(check_debug_marker(true));
    EXPECT_EQ(debug_text().size(), written) << "already on: nothing more is written";
    std::remove(dir_.file("debug.txt").c_str());
    EXPECT_FALSE(check_debug_marker(true));
    EXPECT_FALSE(debug_file_open());
}

TEST_F(DebugLog, UnopenableDebugFileIsIgnoredAndUnreadableFilesExist) {
    set_debug_file_mode(false);
    debug_state().file_path = dir_.file("no-such-folder/DebugFile.txt");
    set_debug_file_mode(true);
    debug_write("goes nowhere");
    EXPECT_FALSE(debug_file_open());
    // A path that exists but cannot be opened (here a link that loops) counts as existing, as a locked file does.
    std::filesystem::create_symlink(dir_.file("loop"), dir_.file("loop"));
    EXPECT_TRUE(platform::file_exists(dir_.file("loop")));
    // Nor does a FIFO without a writer hang the look.
    ASSERT_EQ(mkfifo(dir_.file("fifo").c_str(), 0600), 0);
    EXPECT_TRUE(platform::file_exists(dir_.file("fifo")));
}

TEST_F(DebugLog, ErrorReportTracesInformationAndRealFailuresOnly) {
    struct Row { Severity severity; int err; const char* desc; bool debug, traced; };
    const Row rows[] = {
        {Severity::information, 0, "", true, true}, {Severity::problem, 0, "", true, true},
        {Severity::error, 0, "", true, false},      {Severity::critical, 0, "", true, false},  // need a real failure
        {Severity::error, 5, "Access is denied.", true, true}, {Severity::error, 2, "x", false, false},
    };
    for (const Row& r : rows) {
        const int severity = static_cast<int>(r.severity);
        SCOPED_TRACE(::testing::Message() << severity << " " << r.err);
        debug_state().on = r.debug;
        const size_t before = debug_text().size();
        if (r.err) platform::set_pending_error(r.err, r.desc);
        error_report(r.severity, "Create key error", "modRegistryTools", "CreateNewKey", 901);
        EXPECT_EQ(platform::pending_error().number, 0);
        const std::string expected = std::string(kStamp) + "ERROR  Severity:" + std::to_string(severity) +
                                     ", Err:" + std::to_string(r.err) + ", Desc:" + r.desc +
                                     ", Origination: modRegistryTools\r\n"
                                     "ID: CreateNewKey 901, Msg:Create key error, Resp:0\r\n";
        EXPECT_EQ(debug_text().substr(before), r.traced ? expected : "");
    }
}

TEST_F(DebugLog, EventLogGetsProblemsAsInformationAndErrorsAsWarnings) {
    record_nt_events();
    report_settings().nt_event_log = [] { return true; };
    error_report(Severity::information, "info", "m", "p", 1);  // information never reaches the event log
    error_report(Severity::problem, "problem", "modX", "proc", 2);
    platform::set_pending_error(13, "The data is invalid.");
    error_report(Severity::critical, "critical", "modY", "crit", 3);
    EXPECT_EQ(nt_events_, (std::vector<std::string>{
                              "Ktrsvc|4|1|problem\rOrigination: modX\r\nID: proc 2\r ",
                              "Ktrsvc|2|1|critical\rOrigination: modY\r\nID: crit 3\rSystem Error: 13\r"
                              "Description: The data is invalid.\r\rDo you wish to continue?"}));
}

} // namespace
} // namespace ktr::diag
