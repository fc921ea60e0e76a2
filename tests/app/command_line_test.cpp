#include <gtest/gtest.h>

#include "app/startup.h"
#include "fakes/module_state.h"

namespace ktr::app {
namespace {

using Words = std::vector<std::string>;

TEST(CommandArgs, BlanksAndTabsSeparateWords) {
    EXPECT_EQ(get_command_args(""), Words{""});
    EXPECT_EQ(get_command_args("  debug\t once  "), (Words{"", "debug", "once"}));
    EXPECT_EQ(get_command_args("a b c d debug", 4), (Words{"", "a", "b", "c", "d"}));
    EXPECT_EQ(get_command_args("1 2 3 4 5 6 7 8 9 10 11 12").size(), 11u);  // ten words by default
}

using CommandWords = testing::ModuleStateTest;

TEST_F(CommandWords, SwitchesAreExactAndLaterWordsWin) {
    diag::set_debug_file_mode(false);
    diag::debug_state() = {};
    apply_command_words(get_command_args("a b c d debug", 4));
    EXPECT_FALSE(diag::debug_state().on) << "the fifth word is never seen";

    apply_command_words(get_command_args("Debug DEBUG screen", 4));
    EXPECT_TRUE(diag::debug_state().on);
    EXPECT_FALSE(diag::debug_state().to_file);
    EXPECT_FALSE(diag::debug_file_open());

    const auto flags = apply_command_words(get_command_args("debug screen once removereg", 4));
    EXPECT_TRUE(flags.once);
    EXPECT_TRUE(flags.remove_registration);
    EXPECT_FALSE(diag::debug_state().to_file);
    EXPECT_TRUE(diag::debug_file_open());  // "debug" opened it before "screen" turned file mode off
    EXPECT_EQ(diag::debug_state().file_path, dir_.file("DebugFile.txt"));
}

} // namespace
} // namespace ktr::app
