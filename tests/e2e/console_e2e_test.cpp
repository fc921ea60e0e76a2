// The module driven by the console client and by raw peers over TCP, and in the time-server role. Who may
// give orders: the Security key's allow-list and action switches, with an allowed (127.0.0.1) and a refused
// (127.0.0.2) source address. Which requests set the clock over either transport is the unit tests'.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "module_process.h"

namespace ktr::testing {
namespace {

// This machine's UTC clock shifted by the seconds, in the console's "YY-MM-DD hh:mm:ss" form.
std::string console_time(int shift_seconds) {
    const std::time_t t = std::time(nullptr) + shift_seconds;
    char buf[32];
    std::strftime(buf, sizeof buf, "%y-%m-%d %H:%M:%S", std::gmtime(&t));
    return buf;
}

using ConsoleE2E = ModuleTest;

TEST_F(ConsoleE2E, OverTcpEveryRequestIsAnsweredOrDroppedAndASetMovesTheClock) {
    start();
    EXPECT_EQ(console({"H"}), "OK-H\n");
    EXPECT_NEAR(offset_of(console({"T"})), 0.0, 5.0) << "the simulated clock starts at this machine's time";
    EXPECT_EQ(console({"--timeout", "1", "raw", "HELLO"}, 1), "") << "no \"+\": no reply";
    for (const std::string& odd : {std::string(200000, 'A') + "+", std::string("\0\x01\xFF+", 4)})
        EXPECT_TRUE(tcp_exchange(port, {odd}, 5000).starts_with("Unknown"));

    const auto last_sync = [&] { return run_reg(home, {"get", kOptionsKey, "LastSyncTime"}).out; };
    const std::string checked = last_sync();
    EXPECT_EQ(tcp_exchange(port, {"S+ 12/26/9999 05:37:32 250"}).substr(0, 5), "OK-S ");
    EXPECT_EQ(console({"H"}), "OK-H\n") << "the failed run is over";
    EXPECT_EQ(last_sync(), checked) << "a failed run is no check of the clock";
    EXPECT_EQ(console({"S", console_time(600), "250"}).substr(0, 13), "OK-S " + console_time(0).substr(0, 8))
        << "the clock before the setting";
    EXPECT_NEAR(offset_of(console({"T"})), 600.0, 5.0);
    EXPECT_NE(last_sync(), checked);
}

TEST_F(ConsoleE2E, TheTimeServerRoleAnswersNistText) {
    start({}, false, {{"KTRSVC_MODULE_TYPE", "N"}});
    const std::string r = tcp_exchange(port, {"10.1.2.3+T"});
    EXPECT_TRUE(std::regex_match(r, std::regex(R"(Server: \d\d-\d\d-\d\d \d\d:\d\d:\d\d)"))) << r;
}

const std::string kSecurityKey = "HKEY_USERS\\.DEFAULT\\Software\\VB and VBA Program Settings\\Ktrsvc\\Security";

class AllowedConsoles : public ModuleTest {
protected:
    // The key exists before the first start, as an administrator would write it.
    void SetUp() override {
        ASSERT_EQ(run_reg(home, {"set", kSecurityKey, "AllowedConsoles", "127.0.0.1, 10.0.0.0/8"}).exit_code, 0);
        ASSERT_EQ(run_reg(home, {"set", kSecurityKey, "AllowProgramStart", "False"}).exit_code, 0);
    }
};

TEST_F(AllowedConsoles, OverTcpOthersAreClosedAtOnceWithoutDisturbingTheConsole) {
    start();
    TcpPeer console, other, action;
    ASSERT_TRUE(console.connect(port) && other.connect(port, "127.0.0.2") && other.send("H+"));
    EXPECT_EQ(other.receive(), "");
    EXPECT_TRUE(other.closed_by_peer(0)) << "closed without a reply";
    EXPECT_TRUE(console.send("H+"));
    EXPECT_EQ(console.receive(), "OK-H") << "the console's connection was not pre-empted";
    ASSERT_TRUE(action.connect(port) && action.send("C+touch " + home.file("ran") + "\r\n"));
    EXPECT_EQ(action.receive(), "OK-C") << "a refused order is answered as a failed one";
    const std::string log = home.read("DebugFile.txt");
    EXPECT_NE(log.find("Refused request from 127.0.0.2"), std::string::npos);
    EXPECT_NE(log.find("Refused program start"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(home.file("ran")));
}

TEST_F(AllowedConsoles, OverUdpOthersGetNoReply) {
    if (under_wine()) GTEST_SKIP() << "Wine gives every loopback datagram the source 127.0.0.1, so none is refused";
    start("ClientFormat,2\r\nServerFormat,2\r\n", true);
    for (const auto& [source, answered] : {std::pair{"127.0.0.2", false}, std::pair{"127.0.0.1", true}}) {
        UdpPeer peer(source);
        std::vector<uint8_t> r;
        const bool got = peer.send_to(port, {'H', '+'}) && peer.receive(r, 1000);
        EXPECT_EQ(got && std::string(r.begin(), r.end()).starts_with("OK-H"), answered) << source;
    }
}

} // namespace
} // namespace ktr::testing
