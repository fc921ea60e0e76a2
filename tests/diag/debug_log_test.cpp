#include "diag/debug_log.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>

#include "fakes/module_state.h"
#include "fakes/system_paths.h"

namespace ktr::diag {
namespace {

using DebugLog = testing::ModuleStateTest;

TEST_F(DebugLog, StampedLinesOpenPiecesAndFileModeOff) {
    for (const auto& [text, keep_open] : {std::pair{"A", true}, {"B", false}, {"X", true}, {"Y", true}, {"Z", false}})
        debug_write(text, keep_open);
    debug_state().to_file = false;
    debug_write("lost", true);  // the open request is forgotten with the line
    debug_state().to_file = true;
    debug_write("kept");
    const std::string s = kStamp;
    EXPECT_EQ(debug_text(),
              s + "Debug FILE mode is now on.\r\n" + s + "AB\r\n" + s + "X" + s + "YZ\r\n" + s + "kept\r\n");
}

TEST_F(DebugLog, MarkerFileSwitchesFileModeAndUnopenableFilesAreIgnored) {
    set_debug_file_mode(false);
    debug_state().to_file = false;
    EXPECT_FALSE(check_debug_marker(false));
    dir_.write("debug.txt", "");
    EXPECT_TRUE(check_debug_marker(false) && debug_state().to_file);
    const size_t written = debug_text().size();
    EXPECT_TRUE(check_debug_marker(true));
    EXPECT_EQ(debug_text().size(), written) << "already on: nothing more is written";
    std::filesystem::remove(dir_.file("debug.txt"));
    EXPECT_FALSE(check_debug_marker(true) || debug_file_open());
    debug_state().file_path = dir_.file("no-such-folder/DebugFile.txt");
    set_debug_file_mode(true);
    debug_write("goes nowhere");
    EXPECT_FALSE(debug_file_open());
#ifdef _WIN32
    // Exists though it cannot be opened while another program holds it without sharing.
    const testing::HeldFile held(dir_.file("held"));
    ASSERT_TRUE(held.ok());
    EXPECT_TRUE(platform::file_exists(dir_.file("held")));
#else
    // Exists, as a locked file does, though it cannot be opened; a FIFO without a writer must not hang the look.
    std::filesystem::create_symlink(dir_.file("loop"), dir_.file("loop"));
    ASSERT_EQ(mkfifo(dir_.file("fifo").c_str(), 0600), 0);
    EXPECT_TRUE(platform::file_exists(dir_.file("loop")) && platform::file_exists(dir_.file("fifo")));
#endif
}

TEST_F(DebugLog, ErrorReportTracesAndLogsEventsBySeverity) {
    record_nt_events();
    report_settings().nt_event_log = [] { return true; };
    // Errors and critical ones need a real failure; only problems and failures reach the event log.
    const std::pair<Severity, int> rows[] = {{Severity::information, 0}, {Severity::problem, 0}, {Severity::error, 0},
                                             {Severity::critical, 0}, {Severity::error, 5}, {Severity::critical, 5}};
    for (const auto& [severity, err] : rows) {
        const std::string number = std::to_string(static_cast<int>(severity)), desc = err ? "D" : "";
        const size_t before = debug_text().size();
        if (err) platform::set_pending_error(err, "D");
        error_report(severity, "Msg", "modX", "proc", 9);
        EXPECT_EQ(platform::pending_error().number, 0);
        const std::string line = std::string(kStamp) + "ERROR  Severity:" + number + ", Err:" + std::to_string(err) +
                                 ", Desc:" + desc + ", Origination: modX\r\nID: proc 9, Msg:Msg, Resp:0\r\n";
        EXPECT_EQ(debug_text().substr(before), severity <= Severity::problem || err ? line : "");
    }
    const std::string head = "|1|Msg\rOrigination: modX\r\nID: proc 9\r", failure = "System Error: 5\rDescription: D";
    EXPECT_EQ(nt_events_, (std::vector<std::string>{"Ktrsvc|4" + head + " ", "Ktrsvc|2" + head + failure,
                                                    "Ktrsvc|2" + head + failure + "\r\rDo you wish to continue?"}));
}

} // namespace
} // namespace ktr::diag
