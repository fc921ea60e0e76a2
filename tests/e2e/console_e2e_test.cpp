// The module driven over TCP by the console client and by raw peers, as the console would; the time-server
// role. The UDP case shares the sync run's module.
#include <gtest/gtest.h>

#include <regex>

#include "module_process.h"

namespace ktr::testing {
namespace {

// This machine's UTC clock shifted by the seconds, in the console's "YY-MM-DD hh:mm:ss" form.
std::string console_time(int shift_seconds) {
    const std::tm tm = utc_fields(std::time(nullptr) + shift_seconds);
    char buf[32];
    std::strftime(buf, sizeof buf, "%y-%m-%d %H:%M:%S", &tm);
    return buf;
}

using ConsoleE2E = ModuleTest;

TEST_F(ConsoleE2E, OverTcpEveryRequestIsAnsweredOrDroppedAndASetMovesTheClock) {
    start();
    EXPECT_EQ(console({"H"}), "OK-H\n");
    EXPECT_EQ(console({"raw", "h+"}), "Unknown\n");
    EXPECT_NEAR(offset_of(console({"T"})), 0.0, 5.0) << "the simulated clock starts at this machine's time";
    EXPECT_EQ(console({"--timeout", "1", "raw", "HELLO"}, 1), "") << "no \"+\": no reply";
    for (const std::string& odd : {std::string(200000, 'A') + "+", std::string("\0\x01\xFF+", 4)})
        EXPECT_TRUE(tcp_exchange(port, {odd}, 5000).starts_with("Unknown"));

    EXPECT_EQ(console({"S", console_time(600), "250"}).substr(0, 13), "OK-S " + console_time(0).substr(0, 8))
        << "the clock before the setting";
    EXPECT_NEAR(offset_of(console({"T"})), 600.0, 5.0);
}

TEST_F(ConsoleE2E, TheTimeServerRoleAnswersNistText) {
    start({}, false, {{"KTRSVC_MODULE_TYPE", "N"}});
    const std::string r = tcp_exchange(port, {"10.1.2.3+T"});
    EXPECT_TRUE(std::regex_match(r, std::regex(R"(Server: \d\d-\d\d-\d\d \d\d:\d\d:\d\d)"))) << r;
}

} // namespace
} // namespace ktr::testing
