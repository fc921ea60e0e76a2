#include <gtest/gtest.h>

#include "app/startup.h"
#include "diag/debug_log.h"
#include "fakes/temp_dir.h"
#include "platform/files.h"

namespace ktr::app {
namespace {

using Words = std::vector<std::string>;

TEST(CommandArgs, BlanksAndTabsSeparateWords) {
    EXPECT_EQ(get_command_args(""), Words{""});
    EXPECT_EQ(get_command_args("  debug\t once  "), (Words{"", "debug", "once"}));
    EXPECT_EQ(get_command_args("a b c d debug", 4), (Words{"", "a", "b", "c", "d"}));
    EXPECT_EQ(get_command_args("1 2 3 4 5 6 7 8 9 10 11 12").size(), 11u);  // ten words by default
}

class CommandWords : public ::testing::Test {
protected:
    void SetUp() override {
        saved = diag::debug_state();
        diag::debug_state() = {};
        platform::set_program_folder(dir.path());
    }
    void TearDown() override {
        diag::set_debug_file_mode(false);
        diag::debug_state() = saved;
        platform::set_program_folder(std::string());
    }
    testing::TempDir dir;
    diag::DebugState saved;
};

TEST_F(CommandWords, SwitchesAreExactAndLaterWordsWin) {
    auto flags = apply_command_words(get_command_args("Debug DEBUG screen", 4));
    EXPECT_TRUE(diag::debug_state().on);
    EXPECT_FALSE(diag::debug_state().to_file);
    EXPECT_FALSE(diag::debug_file_open());

    flags = apply_command_words(get_command_args("debug screen once removereg", 4));
    EXPECT_TRUE(flags.once);
    EXPECT_TRUE(flags.remove_registration);
    EXPECT_FALSE(diag::debug_state().to_file);
    EXPECT_TRUE(diag::debug_file_open());  // "debug" opened it before "screen" turned file mode off
    EXPECT_EQ(diag::debug_state().file_path, dir.file("DebugFile.txt"));

    diag::debug_state() = {};
    apply_command_words(get_command_args("a b c d debug", 4));
    EXPECT_FALSE(diag::debug_state().on) << "the fifth word is never seen";
}

} // namespace
} // namespace ktr::app
