#include <gtest/gtest.h>

#include "app/startup.h"
#include "config/options.h"
#include "fakes/module_state.h"

namespace ktr::app {
namespace {

using Words = std::vector<std::string>;

Words fields(std::string_view text) {
    DelimitedReader reader(text);
    Words out;
    for (std::string f; !reader.at_end() && reader.next_field(f);) out.push_back(f);
    return out;
}

TEST(DelimitedReader, QuotesKeepCommasAndLineEndsEndFields) {
    EXPECT_EQ(fields("TCPPort,2000\r\nNISTServer,\"a, b\"\n"), (Words{"TCPPort", "2000", "NISTServer", "a, b"}));
    // An unquoted value ends at the first comma; the rest of the line is the next name.
    EXPECT_EQ(fields("  A , 1 ,B,2"), (Words{"A", "1", "B", "2"}));
    EXPECT_EQ(fields("\"x\"junk,y"), (Words{"x", "y"})) << "text after a closing quote is dropped";
    EXPECT_EQ(fields("N,\"open\nstill open"), (Words{"N", "open\nstill open"})) << "an unbalanced quote runs on";
    EXPECT_EQ(fields("A,1\n\nB,2\n\n\n"), (Words{"A", "1", "", "B", "2"})) << "blank lines at the end give none";
    EXPECT_EQ(fields(std::string("A,\0\xff\x01", 5)), (Words{"A", std::string("\0\xff\x01", 3)}));
    EXPECT_TRUE(fields("").empty());
}

using Startup = testing::ModuleStateTest;

TEST_F(Startup, BlanksAndTabsSeparateWordsSwitchesAreExactAndLaterWordsWin) {
    EXPECT_EQ(get_command_args(""), Words{""});
    EXPECT_EQ(get_command_args("  debug\t once  "), (Words{"", "debug", "once"}));
    EXPECT_EQ(get_command_args("1 2 3 4 5 6 7 8 9 10 11 12").size(), 11u);  // ten words by default
    diag::set_debug_file_mode(false);
    diag::debug_state() = {};
    apply_command_words(get_command_args("a b c d debug", 4));
    EXPECT_FALSE(diag::debug_state().on) << "the fifth word is never seen";
    apply_command_words(get_command_args("Debug DEBUG screen", 4));
    EXPECT_TRUE(diag::debug_state().on);
    EXPECT_FALSE(diag::debug_file_open()) << "only the exact word opens the file";

    const auto flags = apply_command_words(get_command_args("debug screen once removereg", 4));
    EXPECT_TRUE(flags.once && flags.remove_registration);
    EXPECT_FALSE(diag::debug_state().to_file);
    EXPECT_TRUE(diag::debug_file_open());  // "debug" opened it before "screen" turned file mode off
    EXPECT_EQ(diag::debug_state().file_path, dir_.file("DebugFile.txt"));
}

TEST_F(Startup, OptionFileAppliesPairsSurvivesBadLinesAndMissingFiles) {
    // A blank line is an empty name whose value is the next line; then a name with no value at the end.
    dir_.write("ZKEntinit.ini", "TCPPort,2000\nNISTServer,\"t1, t2\"\nUnknown,3\nTimedInterval,xyz\nLocalHost," +
                                    std::string(100000, 'h') + "\n\nX\nDomainName");
    config::COptions o;
    o.TimedInterval(3600);
    ReadInFile(dir_.file("ZKEntinit.ini"), o);
    EXPECT_EQ(o.TCPPort(), 2000);
    EXPECT_EQ(o.NISTServer(), "t1, t2");
    EXPECT_EQ(o.TimedInterval(), 3600);
    EXPECT_EQ(o.LocalHost().size(), 100000u);
    EXPECT_TRUE(traced("Err:62, Desc:Input past end of file")) << "the name without a value";

    const size_t before = debug_text().size();
    ReadInFile("", o);
    ReadInFile(dir_.file("absent.ini"), o);
    EXPECT_NE(debug_text().find("ReadInSetting error", before), std::string::npos);
}

} // namespace
} // namespace ktr::app
