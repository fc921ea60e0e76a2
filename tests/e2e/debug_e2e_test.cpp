// The debug switch, run as a user would in an empty program folder.
#include <gtest/gtest.h>

#include <sstream>

#include "module_process.h"
#include "platform/text.h"

namespace ktr::testing {
namespace {

// "mm-dd hh:nn:ss  " followed by the text.
bool time_stamped(const std::string& line) {
    const std::string shape = "dd-dd dd:dd:dd  ";
    if (line.size() < shape.size()) return false;
    for (size_t i = 0; i < shape.size(); ++i) {
        const bool digit = platform::is_digit(line[i]);
        if (shape[i] == 'd' ? !digit : line[i] != shape[i]) return false;
    }
    return true;
}

TEST(DebugE2E, DebugSwitchWritesTimeStampedLinesInAnEmptyFolder) {
    TempDir home;
    const auto r = run_program(kBinDir + "/ktrsvc", {"debug", "once"}, module_env(home));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string log = home.read("DebugFile.txt");
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
    std::istringstream lines(log);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        ASSERT_FALSE(line.empty());
        EXPECT_EQ(line.back(), '\r') << line;
        line.pop_back();
        EXPECT_TRUE(time_stamped(line)) << line;
        ++count;
    }
    EXPECT_GE(count, 4);  // file mode on, the empty line, the banner, the comments text, once mode
    EXPECT_NE(log.find("  Debug FILE mode is now on.\r\n"), std::string::npos);
    EXPECT_NE(log.find("Once mode begins..."), std::string::npos);
}

} // namespace
} // namespace ktr::testing
