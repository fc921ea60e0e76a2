// The sync record and the logs it goes to: the sync log, the event file, the system event log and syslog.
#include "records/log_files.h"

#include <gtest/gtest.h>

#include "config/option_store.h"
#include "config/options.h"
#include "fakes/module_state.h"
#include "platform/settings_store.h"
#include "platform/udp_datagram.h"
#include "records/sync_record.h"
#include "records/syslog.h"

namespace ktr::records {
namespace {

const char* const kSyncHeader =
    "Synchronization Log          3/5/2026 9:07:03 AM\r\n"
    "Date     Time      Difference Accuracy  Status Server\r\n"
    "-----    ----      ---------- --------  ------ ------\r\n";
const char* const kEventHeader =
    "Event Log                    3/5/2026 9:07:03 AM\r\n"
    "Date     Time      Type    Action\r\n"
    "-----    ----      ----    -----\r\n";

// A loopback listener stands in for the syslog server.
class LogFiles : public testing::ModuleStateTest {
protected:
    static CSync record(int32_t seconds, float accuracy = 0, int16_t status = 0, float fraction = 0) {
        CSync s;
        s.SyncUseFrac(fraction != 0);
        s.SyncSecFrac(fraction);
        s.SyncLocalTime(kMorning);
        s.SyncDifferenceSec(seconds);
        s.SyncAccuracy(accuracy);
        s.SyncStatus(status);
        return s;
    }
    void SetUp() override {
        ASSERT_TRUE(listener_.bind_loopback());
        set_syslog_port(listener_.local_port());
        config::options().LoggingSyslogServ("127.0.0.1");
    }
    ~LogFiles() override { set_syslog_port(0); }
    std::string received() { return listener_.receive(2000).value_or("<nothing received>"); }

    platform::UdpDatagramSocket listener_;
};

TEST_F(LogFiles, SyncLogMissingFileGetsTheHeaderExistingOneOnlyTheRecordsUnwritableOneAReport) {
    // Columns: a reached one is followed, a passed one wraps; a time of midnight is dropped.
    EXPECT_EQ(ColumnLine().text(1, "abcd").text(5, "e").text(3, "x").end().str(), "abcde\r\n  x\r\n");
    EXPECT_EQ(ColumnLine().date(1, 46086.0).date(1, 46086.75).str(), "3/5/2026\r\n3/5/2026 6:00:00 PM");
    std::string expected = kSyncHeader;
    const std::pair<CSync, const char*> rows[] = {
        {record(12, 6.0f), "3/5/2026 9:07:03 AM12.        6.0        0     srv\r\n"},
        {record(0, -2.5f, 4, 0.5f), "3/5/2026 9:07:03 AM.50        -2.5       4     srv\r\n"}};
    for (const auto& [sync, line] : rows) {
        PrintSyncBody(sync, "srv", dir_.file("logfile.txt"), config::kLogToFile);
        EXPECT_EQ(dir_.read("logfile.txt"), expected += line);
    }
    // Nothing without a name or with the file off; an unwritable folder is reported, not raised.
    PrintSyncBody(record(1), "s", "", config::kLogToFile);
    PrintSyncBody(record(1), "s", dir_.file("off.txt"), 0);
    const std::string path = dir_.file("missing-folder/logfile.txt");
    PrintSyncBody(record(1), "s", path, config::kLogToFile);
    EXPECT_FALSE(platform::file_exists(dir_.file("off.txt")) || platform::pending_error().number);
    EXPECT_TRUE(traced("ID: PrintSyncBody 10, Msg:Couldn't write log file to " + path)) << debug_text();
}

TEST_F(LogFiles, PrinterModeRendersPagesWithFootersAndTheEndOfReport) {
    PrintSyncHeader("", config::kLogToPrinter);
    for (int i = 0; i < 60; ++i) PrintSyncBody(record(i), "srv", "", config::kLogToPrinter);
    PrintSyncEnd(config::kLogToPrinter);
    const std::string out = dir_.read(kPrinterOutputName), footer = "\r\n" + std::string(49, ' ') + "Page  1 \r\n";
    EXPECT_EQ(out.rfind("\r\n\r\nSynchronization Log          Created: 3/5/2026 9:07:03 AM\r\n\r\n\r\nDate ", 0), 0u);
    const size_t next = out.find(footer) + footer.size();
    ASSERT_GE(next, footer.size()) << out;
    EXPECT_EQ(std::count(out.begin(), out.begin() + next, '\n'), kPrinterPageLines);
    EXPECT_EQ(out.substr(next).rfind("\fSync Log - continued         3/5/2026 9:07:03 AM\r\n", 0), 0u);
    EXPECT_TRUE(out.ends_with("<End of Report>\r\n" + std::string(49, ' ') + "Page  2 \r\n"));
}

// An event reaches the event file, the system event log (ID 1) and syslog, each with its type's text.
TEST_F(LogFiles, EventTypesInEverySinkAndAHeaderOnlyWithTheFileOn) {
    const std::string path = dir_.file("evntfile.txt");
    PrintEvntHeader(path);
    EXPECT_FALSE(platform::file_exists(path));
    record_nt_events();
    config::options().LoggingNTEvntOn(true);
    config::options().LoggingSyslogOn(true);
    config::options().LoggingEvntOn(true);
    std::string file = kEventHeader;
    struct Row { int16_t type; const char *text, *pri; };
    const Row rows[] = {{4, "Info    ", "<102>"}, {2, "Warning ", "<100>"}, {1, "Error   ", "<99>"}, {3, "3", "<101>"}};
    for (const Row& r : rows) {
        PrintEvntBody("Event", r.type, path);
        const std::string line = std::string("3/5/2026 9:07:03 AM  ") + r.text + "Event";
        EXPECT_EQ(dir_.read("evntfile.txt"), file += line + "\r\n");
        EXPECT_EQ(received(), std::string(r.pri) + " Ktrsvc: " + r.text + "Event");
        EXPECT_EQ(nt_events_.back(), "Ktrsvc|" + std::to_string(r.type) + "|1|" + line);
    }
    dir_.write("evntfile.txt", "");
    PrintEvntHeader(path);
    EXPECT_EQ(dir_.read("evntfile.txt"), kEventHeader);
    // An unwritable folder is swallowed; a file switched on without a name stops neither syslog nor the event log.
    PrintEvntBody("Lost", 4, dir_.file("missing-folder/evntfile.txt"));
    PrintEvntBody("No file", 2, "");
    const std::string first = received();
    EXPECT_EQ(first + received(), "<102> Ktrsvc: Info    Lost<100> Ktrsvc: Warning No file");
    EXPECT_FALSE(traced("ERROR") || platform::pending_error().number);
}

// A server by address is the event test's.
TEST_F(LogFiles, SyslogServersByNameOrNone) {
    EXPECT_TRUE(send_syslog("by name", "tag", "localhost", 12, 4));
    EXPECT_EQ(received(), "<102> tag: by name");
    // No server, an unresolvable one, or a priority outside 16 bits (abandoned, not wrapped): nothing is sent.
    for (const auto& [server, facility] : {std::pair{"", 12}, {"no such host!", 12}, {"unknown-host.invalid", 12},
                                           {"127.0.0.1", 5000}})
        EXPECT_FALSE(send_syslog("x", "Ktrsvc", server, static_cast<int16_t>(facility), 2)) << server;
    EXPECT_FALSE(listener_.receive(50).has_value() || platform::pending_error().number);
}

class SyncRecord : public testing::ModuleStateTest {
protected:
    // A previous record at kMorning and a new one `days` later finding the clock off.
    static CSync run(double days, int32_t seconds, float fraction = 0, bool use_fraction = false) {
        CSync previous, next;
        previous.SyncLocalTime(kMorning);
        next.SyncLocalTime(kMorning + days);
        next.SyncDifferenceSec(seconds);
        next.SyncSecFrac(fraction);
        next.SyncUseFrac(use_fraction);
        next.Compare_Sync(previous);
        return next;
    }
    static std::string stored(const char* name) { return platform::get_setting("Ktrsvc", "Options", name, "<none>"); }
};

TEST_F(SyncRecord, AccuracyIsSecondsPerDaySinceThePreviousRecordAndIsStoredTruncatedOrNone) {
    // No interval or no difference: no accuracy.
    const std::pair<CSync, float> rows[] = {{run(0.5, 3), 6.0f},       {run(0.5, 1, 0.5f, true), 3.0f},
                                            {run(0.5, 1, 0.5f), 2.0f}, {run(1.0, -3, 0.3f, true), -2.7f},
                                            {run(0, 3), 0.0f},         {run(0.5, 0, 0, true), 0.0f}};
    for (const auto& [sync, accuracy] : rows) EXPECT_FLOAT_EQ(sync.SyncAccuracy(), accuracy) << &sync - &rows[0].first;

    EXPECT_TRUE(run(1.0, -3, 0.3f, true).Save_Registry());  // -2.7 seconds a day
    EXPECT_DOUBLE_EQ(config::options().LastSyncTime(), kMorning + 1.0);
    EXPECT_EQ(stored("AutoPrevSyncTime"), config::option_date_text(kMorning + 1.0));
    EXPECT_EQ(stored("AutoPrevAccuracy") + " " + stored("AutoPrevDifference"), "-2 -3");
    // A record at the time of the stored one stores no accuracy of its own.
    config::options().AutoPrevSyncTime(kMorning + 0.5);
    EXPECT_TRUE(run(0.5, 3).Save_Registry());
    EXPECT_EQ(stored("LastSyncTime"), config::option_date_text(kMorning + 0.5));
    EXPECT_EQ(stored("AutoPrevAccuracy"), "-2");
}

} // namespace
} // namespace ktr::records
