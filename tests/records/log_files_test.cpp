#include "records/log_files.h"

#include <gtest/gtest.h>

#include "config/options.h"
#include "fakes/module_state.h"
#include "records/sync_record.h"

namespace ktr::records {
namespace {

// Column rulers for reading the expected lines below:
//          1        10        20        30        40        50
//          |        |         |         |         |         |
const char* const kSyncHeader =
    "Synchronization Log          3/5/2026 9:07:03 AM\r\n"
    "Date     Time      Difference Accuracy  Status Server\r\n"
    "-----    ----      ---------- --------  ------ ------\r\n";

const char* const kEventHeader =
    "Event Log                    3/5/2026 9:07:03 AM\r\n"
    "Date     Time      Type    Action\r\n"
    "-----    ----      ----    -----\r\n";

CSync record(double when, int32_t seconds, float accuracy = 0, int16_t status = 0) {
    CSync s;
    s.SyncLocalTime(when);
    s.SyncDifferenceSec(seconds);
    s.SyncAccuracy(accuracy);
    s.SyncStatus(status);
    return s;
}

using LogFiles = testing::ModuleStateTest;

TEST_F(LogFiles, ColumnLineFollowsAReachedColumnWrapsAPassedOneAndDropsAMidnightTime) {
    EXPECT_EQ(ColumnLine().text(1, "abcd").text(5, "e").text(3, "x").end().str(), "abcde\r\n  x\r\n");
    EXPECT_EQ(ColumnLine().date(1, 46086.0).date(1, 46086.75).str(), "3/5/2026\r\n3/5/2026 6:00:00 PM");
}

TEST_F(LogFiles, SyncLogMissingFileGetsTheHeaderExistingOneOnlyTheRecords) {
    CSync fraction = record(kMorning, 0, -2.5f, 4);
    fraction.SyncUseFrac(true);
    fraction.SyncSecFrac(0.5f);
    const std::pair<CSync, const char*> rows[] = {
        {record(kMorning, 12, 6.0f, 0), "3/5/2026 9:07:03 AM12.        6.0        0     srv\r\n"},
        {fraction, "3/5/2026 9:07:03 AM.50        -2.5       4     srv\r\n"},
        // A long date pushes the difference onto the next line at its column.
        {record(46387.0 + 86399.0 / 86400.0, -3, 0.0f, 5),
         "12/31/2026 11:59:59 PM\r\n                   -3.        0.0        5     srv\r\n"}};
    std::string expected = kSyncHeader;
    for (const auto& [sync, line] : rows) {
        PrintSyncBody(sync, "srv", dir_.file("logfile.txt"), config::kLogToFile);
        EXPECT_EQ(dir_.read("logfile.txt"), expected += line);
    }
}

TEST_F(LogFiles, SyncLogSkipsEmptyPathsAndReportsUnwritableFolders) {
    PrintSyncBody(record(kMorning, 1), "s", "", config::kLogToFile);
    PrintSyncBody(record(kMorning, 1), "s", dir_.file("logfile.txt"), 0);
    PrintSyncHeader(dir_.file("logfile.txt"), 3);
    EXPECT_FALSE(platform::file_exists(dir_.file("logfile.txt")));

    const std::string path = dir_.file("missing-folder/logfile.txt");
    PrintSyncBody(record(kMorning, 1), "s", path, config::kLogToFile);
    EXPECT_TRUE(traced("ID: PrintSyncBody 10, Msg:Couldn't write log file to " + path)) << debug_text();
    EXPECT_EQ(platform::pending_error().number, 0);
}

TEST_F(LogFiles, PrinterModeRendersPagesWithFootersAndTheEndOfReport) {
    PrintSyncHeader("", config::kLogToPrinter);
    for (int i = 0; i < 60; ++i) PrintSyncBody(record(kMorning, i), "srv", "", config::kLogToPrinter);
    PrintSyncEnd(config::kLogToPrinter);
    const std::string out = dir_.read(kPrinterOutputName);

    EXPECT_EQ(out.rfind("\r\n\r\nSynchronization Log          Created: 3/5/2026 9:07:03 AM\r\n\r\n\r\nDate ", 0), 0u)
        << out;
    const std::string footer1 = "\r\n                                                 Page  1 \r\n";
    const size_t page1_end = out.find(footer1);
    ASSERT_NE(page1_end, std::string::npos) << out;
    const size_t next = page1_end + footer1.size();
    EXPECT_EQ(std::count(out.begin(), out.begin() + next, '\n'), kPrinterPageLines);
    EXPECT_EQ(out.substr(next).rfind("\fSync Log - continued         3/5/2026 9:07:03 AM\r\n\r\n\r\n", 0), 0u);
    const std::string tail = "<End of Report>\r\n                                                 Page  2 \r\n";
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
}

TEST_F(LogFiles, EventLogTypeTextsAndHeaderOnlyWithTheEventFileOn) {
    const std::string path = dir_.file("evntfile.txt");
    PrintEvntHeader(path);
    EXPECT_FALSE(platform::file_exists(path));

    config::options().LoggingEvntOn(true);
    for (const auto& [type, message] : {std::pair{4, "Clock set"}, {2, "Over limit"}, {1, "Failed"}, {3, "Odd"}})
        PrintEvntBody(message, static_cast<int16_t>(type), path);
    EXPECT_EQ(dir_.read("evntfile.txt"), std::string(kEventHeader) +
                                             "3/5/2026 9:07:03 AM  Info    Clock set\r\n"
                                             "3/5/2026 9:07:03 AM  Warning Over limit\r\n"
                                             "3/5/2026 9:07:03 AM  Error   Failed\r\n"
                                             "3/5/2026 9:07:03 AM  3Odd\r\n");
    dir_.write("evntfile.txt", "");
    PrintEvntHeader(path);
    EXPECT_EQ(dir_.read("evntfile.txt"), kEventHeader);

    // An unwritable folder is swallowed; an empty file name turns off only the file.
    record_nt_events();
    config::options().LoggingNTEvntOn(true);
    PrintEvntBody("Clock set", 4, dir_.file("missing-folder/evntfile.txt"));
    EXPECT_EQ(platform::pending_error().number, 0);
    EXPECT_FALSE(traced("ERROR"));
    PrintEvntBody("No file", 2, "");
    EXPECT_EQ(nt_events_, (std::vector<std::string>{"Ktrsvc|4|1|3/5/2026 9:07:03 AM  Info    Clock set",
                                                    "Ktrsvc|2|1|3/5/2026 9:07:03 AM  Warning No file"}));
}

} // namespace
} // namespace ktr::records
