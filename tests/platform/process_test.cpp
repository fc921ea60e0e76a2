#include <gtest/gtest.h>

#ifdef _WIN32
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "fakes/temp_dir.h"
#endif
#include "platform/pending_error.h"
#include "platform/process.h"

namespace ktr::platform {
namespace {

using Words = std::vector<std::string>;

#ifdef _WIN32
// The programs the Windows tests start are this test program itself, run with "--ktr-helper" and what it
// is to do: "exit N", "sleep MS", "echo WORDS..." (to its output) or "write FILE WORDS..." (to the file, for
// a program started without waiting).
// The helper acts before any test runs and ends there.
class ProgramHelper : public ::testing::Environment {
public:
    void SetUp() override {
        const auto args = ::testing::internal::GetArgvs();
        size_t at = 0;
        while (at < args.size() && args[at] != "--ktr-helper") ++at;
        if (at + 1 >= args.size()) return;
        const std::string& what = args[at + 1];
        const std::string first = at + 2 < args.size() ? args[at + 2] : "";
        if (what == "exit") std::_Exit(std::atoi(first.c_str()));
        if (what == "sleep") {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(first.c_str())));
            std::_Exit(0);
        }
        const bool to_file = what == "write";
        std::string text = "ktr-words:";
        for (size_t i = at + (to_file ? 3 : 2); i < args.size(); ++i) text += "[" + args[i] + "]";
        text += "ktr-end";
        if (FILE* f = to_file ? std::fopen(first.c_str(), "wb") : stdout) {
            std::fputs(text.c_str(), f);
            std::fflush(f);
            if (to_file) std::fclose(f);
        }
        std::_Exit(0);
    }
};
const auto* const kHelper = ::testing::AddGlobalTestEnvironment(new ProgramHelper);

// The words that start the helper; an environment's set-up runs only when a test is selected.
Words helper(const Words& action) {
    Words words{::testing::internal::GetArgvs()[0], "--gtest_filter=CommandLine.*", "--ktr-helper"};
    words.insert(words.end(), action.begin(), action.end());
    return words;
}
// The same as one command line, each word quoted.
std::string helper_line(const Words& action) {
    std::string line;
    for (const auto& w : helper(action)) line += "'" + w + "' ";
    return line;
}
#endif

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
#ifndef _WIN32
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
#else
TEST(Programs, StartedOnesAreCollectedAndAWaitGivesTheExitStatusOrGivesUpAtTheTimeout) {
    ASSERT_TRUE(start_program(helper_line({"exit", "0"})));
    ASSERT_TRUE(start_program(helper_line({"sleep", "4000"})));
    int running = 2;
    for (int i = 0; i < 100 && running > 1; ++i)
        if ((running = reap_started_programs()) > 1) run_and_wait(helper({"exit", "0"}), 5000);
    EXPECT_EQ(running, 1);

    EXPECT_EQ(run_and_wait(helper({"exit", "3"}), 20000), 3);
    EXPECT_FALSE(run_and_wait(helper({"sleep", "5000"}), 50));
    EXPECT_FALSE(run_and_wait({"no-such-program-ktr"}, 1000));
    // A batch file would need cmd.exe, a shell that interprets the words: it is refused.
    testing::TempDir dir;
    dir.write("run.bat", "@echo off\r\n");
    EXPECT_FALSE(start_program("'" + dir.file("run.bat") + "'"));
    EXPECT_NE(pending_error().description.find("batch"), std::string::npos) << "found, then refused";
    EXPECT_FALSE(run_and_wait({dir.file("run.bat")}, 5000));
    clear_pending_error();
}

// Each word reaches the program as it was, whatever blanks, quotes, backslashes or variables are in it. A
// program started without waiting has its command line built by the same code.
TEST(Programs, WordsArriveUnchangedThroughTheCommandLine) {
    const Words words{"a b", "", "x\"y", "c:\\dir\\", "back\\\\\"slash\\", "%PATH%", "$HOME", "tab\tin", "end\\"};
    Words line{"echo"};
    line.insert(line.end(), words.begin(), words.end());
    std::string out, expected = "ktr-words:";  // the helper's mark; what comes before is the test runner's
    for (const auto& w : words) expected += "[" + w + "]";
    expected += "ktr-end";
    ASSERT_EQ(run_and_capture(helper(line), 20000, out), 0);
    EXPECT_EQ(out.substr(std::min(out.find("ktr-words:"), out.size())), expected);
}
#endif

} // namespace
} // namespace ktr::platform
