// The module driven over TCP by the console client and by raw peers, as the console would; the time-server
// role. The UDP case shares the sync run's module.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <regex>

#include "module_process.h"

namespace ktr::testing {
namespace {

// This machine's UTC clock shifted by the seconds, in the console's "YY-MM-DD hh:mm:ss" form.
std::string console_time(int shift_seconds) {
    const std::time_t t = std::time(nullptr) + shift_seconds;
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%y-%m-%d %H:%M:%S", &tm);
    return buf;
}

// An "OK-T yyyy-mm-dd h:nn:ss.mmm" reply minus this machine's clock, in seconds (huge when it is not one).
double offset_of(const std::string& reply) {
    std::tm tm{};
    int ms = 0;
    if (std::sscanf(reply.c_str(), "OK-T %d-%d-%d %d:%d:%d.%d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour,
                    &tm.tm_min, &tm.tm_sec, &ms) != 7)
        return 1e9;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return static_cast<double>(timegm(&tm) - std::time(nullptr)) + ms / 1000.0;
}

using ConsoleE2E = ModuleTest;

TEST_F(ConsoleE2E, OverTcpEveryRequestIsAnsweredOrDroppedAndASetMovesTheClock) {
    start();
    EXPECT_EQ(console({"H"}), "OK-H\n");
    EXPECT_EQ(console({"raw", "h+"}), "Unknown\n");
    EXPECT_NEAR(offset_of(console({"T"})), 0.0, 5.0) << "the simulated clock starts at this machine's time";
    EXPECT_EQ(console({"--timeout", "1", "raw", "HELLO"}, 1), "") << "no \"+\": no reply";
    for (const std::string& odd : {std::string(200000, 'A') + "+", std::string("\0\x01\xFF+", 4)}) {
        TcpPeer peer;
        EXPECT_TRUE(peer.connect(port) && peer.send(odd) && peer.receive(5000).starts_with("Unknown"));
    }

    EXPECT_EQ(console({"S", console_time(600), "250"}).substr(0, 13), "OK-S " + console_time(0).substr(0, 8))
        << "the clock before the setting";
    EXPECT_NEAR(offset_of(console({"T"})), 600.0, 5.0);
}

TEST_F(ConsoleE2E, TheTimeServerRoleAnswersNistText) {
    start({}, false, {{"KTRSVC_MODULE_TYPE", "N"}});
    TcpPeer peer;
    ASSERT_TRUE(peer.connect(port) && peer.send("10.1.2.3+T"));
    const std::string r = peer.receive(3000);
    EXPECT_TRUE(std::regex_match(r, std::regex(R"(Server: \d\d-\d\d-\d\d \d\d:\d\d:\d\d)"))) << r;
}

} // namespace
} // namespace ktr::testing
