#include <gtest/gtest.h>

#include "app/startup.h"
#include "config/options.h"
#include "fakes/module_state.h"

namespace ktr::app {
namespace {

std::vector<std::string> fields(std::string_view text) {
    DelimitedReader reader(text);
    std::vector<std::string> out;
    std::string f;
    while (!reader.at_end() && reader.next_field(f)) out.push_back(f);
    return out;
}

TEST(DelimitedReader, QuotesKeepCommasAndLineEndsEndFields) {
    using V = std::vector<std::string>;
    EXPECT_EQ(fields("TCPPort,2000\r\nNISTServer,\"a, b\"\n"), (V{"TCPPort", "2000", "NISTServer", "a, b"}));
    // An unquoted value ends at the first comma; the rest of the line is the next name.
    EXPECT_EQ(fields("  A , 1 ,B,2"), (V{"A", "1", "B", "2"}));
    // Text after a closing quote is dropped up to the delimiter.
    EXPECT_EQ(fields("\"x\"junk,y"), (V{"x", "y"}));
    // An unbalanced quote runs to the end of the text.
    EXPECT_EQ(fields("N,\"open\nstill open"), (V{"N", "open\nstill open"}));
    // Blank lines inside give empty fields; blank lines at the end give none.
    EXPECT_EQ(fields("A,1\n\nB,2\n\n\n"), (V{"A", "1", "", "B", "2"}));
    EXPECT_EQ(fields(std::string("A,\0\xff\x01", 5)), (V{"A", std::string("\0\xff\x01", 3)}));
    EXPECT_TRUE(fields("").empty());
}

using OptionFile = testing::ModuleStateTest;

TEST_F(OptionFile, AppliesPairsSurvivesBadLinesAndMissingFiles) {
    std::string text = "TCPPort,2000\nNISTServer,\"t1, t2\"\nUnknown,3\nTimedInterval,xyz\n";
    text += "LocalHost," + std::string(100000, 'h') + "\n";
    // A blank line is an empty name whose value is the next line; then a name with no value at the end.
    text += "\nX\nDomainName";
    dir_.write("ZKEntinit.ini", text);
    config::COptions o;
    o.TimedInterval(3600);
    ReadInFile(dir_.file("ZKEntinit.ini"), o);
    EXPECT_EQ(o.TCPPort(), 2000);
    EXPECT_EQ(o.NISTServer(), "t1, t2");
    EXPECT_EQ(o.TimedInterval(), 3600);
    EXPECT_EQ(o.DomainName(), "");
    EXPECT_EQ(o.LocalHost().size(), 100000u);
    EXPECT_TRUE(traced("Err:62, Desc:Input past end of file")) << "the name without a value";

    const size_t before = debug_text().size();
    ReadInFile("", o);
    ReadInFile(dir_.file("absent.ini"), o);
    EXPECT_EQ(o.TCPPort(), 2000);
    EXPECT_NE(debug_text().find("ReadInSetting error", before), std::string::npos);
}

} // namespace
} // namespace ktr::app
