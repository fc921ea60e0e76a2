#include "records/debug_log.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>

#include "fakes/fake_clock.h"
#include "fakes/temp_dir.h"
#include "platform/date_value.h"
#include "platform/files.h"

namespace ktr::records {
namespace {

// Each test gets its own program folder, debug file and a clock standing at 5 December 05:52:15 local.
class DebugLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::set_program_folder(dir.path());
        state = debug_state();
        debug_state().on = true;
        debug_state().to_file = true;
        debug_state().file_path = dir.file("DebugFile.txt");
        set_debug_file_mode(true);
    }
    void TearDown() override {
        debug_state().to_file = true;
        set_debug_file_mode(false);
        debug_state() = state;
        platform::set_program_folder(std::string());
    }
    std::string contents() const { return dir.read("DebugFile.txt"); }

    testing::TempDir dir;
    testing::FakeClock fake{platform::make_date(2026, 12, 5, 10, 52, 15), 300, -60, 1};
    testing::ScopedFakeClock use{fake};
    DebugState state;
};

TEST_F(DebugLogTest, LineHasTimeStampTwoBlanksTextAndCrLf) {
    debug_write("New minute");
    EXPECT_EQ(contents(), "12-05 05:52:15  Debug FILE mode is now on.\r\n12-05 05:52:15  New minute\r\n");
}

TEST_F(DebugLogTest, KeepLineOpenJoinsPiecesIntoOneLine) {
    debug_write("A", true);
    debug_write("B", false);
    debug_write("X", true);
    debug_write("Y", true);
    debug_write("Z");
    EXPECT_EQ(contents(),
              "12-05 05:52:15  Debug FILE mode is now on.\r\n"
              "12-05 05:52:15  AB\r\n"
              "12-05 05:52:15  X12-05 05:52:15  YZ\r\n");
}

TEST_F(DebugLogTest, NothingWrittenWhileFileModeOffAndOpenRequestForgotten) {
    debug_state().to_file = false;
    debug_write("lost", true);
    debug_state().to_file = true;
    debug_write("kept");
    EXPECT_EQ(contents(), "12-05 05:52:15  Debug FILE mode is now on.\r\n12-05 05:52:15  kept\r\n");
}

TEST_F(DebugLogTest, MarkerFileSwitchesFileModeOnAndOff) {
    set_debug_file_mode(false);
    debug_state().to_file = false;
    EXPECT_FALSE(check_debug_marker(false));
    dir.write("debug.txt", "");
    EXPECT_TRUE(check_debug_marker(false));
    EXPECT_TRUE(debug_state().to_file);
    EXPECT_TRUE(check_debug_marker(true));  // already on: nothing more is written
    std::remove(dir.file("debug.txt").c_str());
    EXPECT_FALSE(check_debug_marker(true));
    EXPECT_FALSE(debug_file_open());
    EXPECT_EQ(contents(),
              "12-05 05:52:15  Debug FILE mode is now on.\r\n"
              "12-05 05:52:15  Debug FILE mode is now off.\r\n"
              "12-05 05:52:15  -----Debug file mode is now on------\r\n"
              "12-05 05:52:15  -----Debug file mode is turning off------\r\n");
}

TEST_F(DebugLogTest, UnopenableDebugFileIsIgnored) {
    set_debug_file_mode(false);
    debug_state().file_path = dir.file("no-such-folder/DebugFile.txt");
    set_debug_file_mode(true);
    debug_write("goes nowhere");
    EXPECT_FALSE(debug_file_open());
}

TEST(FileExists, MissingIsFalseUnreadableIsTrue) {
    testing::TempDir dir;
    EXPECT_FALSE(file_exists(dir.file("missing.txt")));
    EXPECT_FALSE(file_exists(dir.file("missing-folder/x.txt")));
    dir.write("present.txt", "x");
    EXPECT_TRUE(file_exists(dir.file("present.txt")));
    // A path that exists but cannot be opened (here a link that loops) counts as existing, as a locked file does.
    ASSERT_EQ(symlink(dir.file("loop").c_str(), dir.file("loop").c_str()), 0);
    EXPECT_TRUE(file_exists(dir.file("loop")));
}

} // namespace
} // namespace ktr::records
