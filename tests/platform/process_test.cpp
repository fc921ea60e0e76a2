#include <gtest/gtest.h>

#include "platform/pending_error.h"
#include "platform/process.h"

namespace ktr::platform {
namespace {

using Words = std::vector<std::string>;

TEST(CommandLine, SplitsQuotedWordsAsAShellWouldButInterpretsNothing) {
    const struct { const char* line; std::optional<Words> words; } rows[] = {  // no words: refused
        {"  a \t b  ", Words{"a", "b"}},
        {"prog 'two words' \"and three more\"", Words{"prog", "two words", "and three more"}},
        {"a'b'\"c\"d", Words{"abcd"}},  // quoted parts join the word around them
        {"'' x", Words{"", "x"}},       // empty quotes are an empty word
        {"'$HOME \\n' \"\\$x \\\" \\a\"", Words{"$HOME \\n", "$x \" \\a"}},
        {"a\\ b c\\'d", Words{"a b", "c'd"}},
        {"echo ;|&>x $(id) `id`", Words{"echo", ";|&>x", "$(id)", "`id`"}},
        {"", Words{}},
        {"'open", {}}, {"\"open", {}}, {"x \"a\\\"", {}}, {"ends\\", {}},
    };
    for (const auto& r : rows) EXPECT_EQ(split_command_line(r.line), r.words) << r.line;
}

// A program that cannot start is the console's "Shell Error", tested there.
TEST(Programs, StartedOnesLeaveNoZombiesAndAWaitGivesTheExitStatusOrGivesUpAtTheTimeout) {
    ASSERT_TRUE(start_program("true"));
    ASSERT_TRUE(start_program("sleep 3"));
    // The short one ends and is collected; the sleeper is still ours to collect later.
    int running = 2;
    for (int i = 0; i < 500 && running > 1; ++i)
        if ((running = reap_started_programs()) > 1) run_and_wait({"true"}, 1000);  // a pause that does real work
    EXPECT_EQ(running, 1);

    EXPECT_EQ(run_and_wait({"sh", "-c", "exit 3"}, 5000), 3);
    std::string out;
    EXPECT_EQ(run_and_capture({"printf", "a\\nb"}, 5000, out), 0);
    EXPECT_EQ(out, "a\nb");
    EXPECT_FALSE(run_and_wait({"sleep", "5"}, 50));
    EXPECT_FALSE(run_and_wait({"no-such-program-ktr"}, 1000));
    clear_pending_error();
}

} // namespace
} // namespace ktr::platform
