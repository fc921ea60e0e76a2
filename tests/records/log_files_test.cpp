#include "records/log_files.h"

#include <gtest/gtest.h>

#include <cmath>

#include "config/options.h"
#include "platform/files.h"
#include "records/sync_record.h"
#include "fakes/scoped_locale.h"
#include "records_fixture.h"

namespace ktr::records {
namespace {

using testing::RecordsTest;

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

CSync record(double when, int32_t seconds, float accuracy, int16_t status) {
    CSync s;
    s.SyncLocalTime(when);
    s.SyncDifferenceSec(seconds);
    s.SyncAccuracy(accuracy);
    s.SyncStatus(status);
    return s;
}

TEST(ColumnLine, PlacesItemsAtColumnsAndWrapsWhenAColumnIsPassed) {
    ColumnLine l;
    l.text(0, "ab").text(5, "cd").number(8, 0).number(12, -42).text(3, "x").end();
    EXPECT_EQ(l.str(), "ab  cd  0  -42 \r\n  x\r\n");
    // A column the line has reached exactly is not passed: the item follows at once.
    EXPECT_EQ(ColumnLine().text(1, "abcd").text(5, "e").str(), "abcde");
    EXPECT_EQ(ColumnLine().text(1, "Page ").number(7).end().str(), "Page  7 \r\n");
}

TEST(ColumnLine, DateItemsUseTheGeneralDateFormWithoutMidnight) {
    testing::ScopedLocale us(platform::us_locale());
    EXPECT_EQ(ColumnLine().date(1, 46086.0).str(), "3/5/2026");
    EXPECT_EQ(ColumnLine().date(1, 46086.75).str(), "3/5/2026 6:00:00 PM");
}

class SyncLogFile : public RecordsTest {};

TEST_F(SyncLogFile, MissingFileGetsTheHeaderThenTheRecordExistingOneOnlyTheRecord) {
    const std::string path = dir_.file("logfile.txt");
    PrintSyncBody(record(kMorning, 12, 6.0f, 0), "time.example", path, kLogToFile);
    const std::string first = "3/5/2026 9:07:03 AM12.        6.0        0     time.example\r\n";
    EXPECT_EQ(dir_.read("logfile.txt"), std::string(kSyncHeader) + first);

    CSync frac = record(kMorning, 0, -2.5f, 4);
    frac.SyncUseFrac(true);
    frac.SyncSecFrac(0.5f);
    PrintSyncBody(frac, "10.0.0.1", path, kLogToFile);
    const std::string second = "3/5/2026 9:07:03 AM.50        -2.5       4     10.0.0.1\r\n";
    EXPECT_EQ(dir_.read("logfile.txt"), std::string(kSyncHeader) + first + second);
}

TEST_F(SyncLogFile, LongDatesPushTheDifferenceOntoTheNextLineAtItsColumn) {
    const std::string path = dir_.file("logfile.txt");
    dir_.write("logfile.txt", "");
    const double late = 46387.0 + (23 * 3600 + 59 * 60 + 59) / 86400.0;
    PrintSyncBody(record(late, -3, 0.0f, 5), "srv", path, kLogToFile);
    EXPECT_EQ(dir_.read("logfile.txt"),
              "12/31/2026 11:59:59 PM\r\n"
              "                   -3.        0.0        5     srv\r\n");
}

TEST_F(SyncLogFile, NothingIsWrittenForAnEmptyPathOrAnotherMode) {
    PrintSyncBody(record(kMorning, 1, 0, 0), "s", "", kLogToFile);
    PrintSyncBody(record(kMorning, 1, 0, 0), "s", dir_.file("logfile.txt"), 0);
    PrintSyncHeader(dir_.file("logfile.txt"), 3);
    EXPECT_FALSE(file_exists(dir_.file("logfile.txt")));
}

TEST_F(SyncLogFile, AnUnwritableFolderIsReportedAndTheCallerGoesOn) {
    const std::string path = dir_.file("missing-folder/logfile.txt");
    PrintSyncBody(record(kMorning, 1, 0, 0), "s", path, kLogToFile);
    const std::string trace = debug_text();
    EXPECT_NE(trace.find("ERROR  Severity:2, Err:2, "), std::string::npos) << trace;
    EXPECT_NE(trace.find("Origination: modMain\r\nID: PrintSyncBody 10, Msg:Couldn't write log file to " + path),
              std::string::npos)
        << trace;
    EXPECT_EQ(platform::pending_error().number, 0);
}

TEST_F(SyncLogFile, PrinterModeRendersPagesWithFootersAndTheEndOfReport) {
    PrintSyncHeader("", kLogToPrinter);
    for (int i = 0; i < 60; ++i) PrintSyncBody(record(kMorning, i, 0, 0), "srv", "", kLogToPrinter);
    PrintSyncEnd(kLogToPrinter);
    const std::string out = dir_.read(kPrinterOutputName);

    EXPECT_EQ(out.rfind("\r\n\r\nSynchronization Log          Created: 3/5/2026 9:07:03 AM\r\n\r\n\r\n"
                        "Date     Time      Difference",
                        0),
              0u)
        << out;
    const std::string footer1 = "\r\n                                                 Page  1 \r\n";
    const size_t page1_end = out.find(footer1);
    ASSERT_NE(page1_end, std::string::npos) << out;
    const std::string next_page = "\fSync Log - continued         3/5/2026 9:07:03 AM\r\n\r\n\r\n";
    EXPECT_EQ(out.substr(page1_end + footer1.size(), next_page.size()), next_page);
    // Each page holds its lines and the footer.
    size_t lines_on_page1 = 0;
    for (size_t i = 0; i < page1_end + footer1.size(); ++i) lines_on_page1 += out[i] == '\n';
    EXPECT_EQ(lines_on_page1, static_cast<size_t>(kPrinterPageLines));
    const std::string tail = "<End of Report>\r\n                                                 Page  2 \r\n";
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
    EXPECT_NE(debug_text().find("<End of Log>"), std::string::npos);
    EXPECT_NE(debug_text().find("Scale Height: "), std::string::npos);
}

class EventLogFile : public RecordsTest {};

TEST_F(EventLogFile, TypeTextsAndTheHeaderOfAMissingFile) {
    config::options().LoggingEvntOn(true);
    const std::string path = dir_.file("evntfile.txt");
    PrintEvntBody("Clock set", 4, path);
    PrintEvntBody("Over limit", 2, path);
    PrintEvntBody("Failed", 1, path);
    PrintEvntBody("Odd", 3, path);
    EXPECT_EQ(dir_.read("evntfile.txt"), std::string(kEventHeader) +
                                             "3/5/2026 9:07:03 AM  Info    Clock set\r\n"
                                             "3/5/2026 9:07:03 AM  Warning Over limit\r\n"
                                             "3/5/2026 9:07:03 AM  Error   Failed\r\n"
                                             "3/5/2026 9:07:03 AM  3Odd\r\n");
}

TEST_F(EventLogFile, HeaderIsWrittenOnlyWithTheEventFileOn) {
    const std::string path = dir_.file("evntfile.txt");
    config::options().LoggingNTEvntOn(true);
    PrintEvntHeader(path);
    EXPECT_FALSE(file_exists(path));
    EXPECT_NE(debug_text().find("initializing event logging"), std::string::npos);
    config::options().LoggingEvntOn(true);
    PrintEvntHeader(path);
    EXPECT_EQ(dir_.read("evntfile.txt"), kEventHeader);
}

TEST_F(EventLogFile, AnUnwritableFolderIsSwallowed) {
    config::options().LoggingEvntOn(true);
    PrintEvntBody("Clock set", 4, dir_.file("missing-folder/evntfile.txt"));
    EXPECT_EQ(platform::pending_error().number, 0);
    EXPECT_EQ(debug_text().find("ERROR"), std::string::npos);
}

} // namespace
} // namespace ktr::records
