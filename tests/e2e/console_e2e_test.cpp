// The module driven by the console client and by raw peers: over TCP, the time-server role, and over UDP the
// sync run as the console meets it there. Who may give orders: the Security key's allow-list and action
// switches, with an allowed (127.0.0.1) and a refused (127.0.0.2) source address.
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

    EXPECT_EQ(console({"S", console_time(600), "250"}).substr(0, 13), "OK-S " + console_time(0).substr(0, 8))
        << "the clock before the setting";
    EXPECT_NEAR(offset_of(console({"T"})), 600.0, 5.0);
}

TEST_F(ConsoleE2E, TheTimeServerRoleAnswersNistText) {
    start({}, false, {{"KTRSVC_MODULE_TYPE", "N"}});
    const std::string r = tcp_exchange(port, {"10.1.2.3+T"});
    EXPECT_TRUE(std::regex_match(r, std::regex(R"(Server: \d\d-\d\d-\d\d \d\d:\d\d:\d\d)"))) << r;
}

// The module serves the console over UDP. Which requests set the clock, and what a failed run records, are
// the unit tests'; here what reaches the clock, and that a failed run is no check of it.
class SyncRunE2E : public ModuleTest {
protected:
    // The module answers before it runs the engine; the answer to the next request means the run is over.
    std::vector<uint8_t> ask(const std::vector<uint8_t>& request) {
        UdpPeer peer;
        std::vector<uint8_t> reply, next;
        EXPECT_TRUE(peer.send_to(port, request) && peer.receive(reply, 3000));
        EXPECT_TRUE(peer.send_to(port, {'H', '+'}) && peer.receive(next, 3000));
        return reply;
    }
    std::string stored(const std::string& name) const { return run_reg(home, {"get", kOptionsKey, name}).out; }
};

TEST_F(SyncRunE2E, UdpSetsMoveTheClockAndOnlyRunsThatMeasuredCount) {
    start("ClientFormat,2\r\nServerFormat,2\r\n", true);
    const std::string checked = stored("LastSyncTime");
    std::vector<uint8_t> request(48, 0);
    request[0] = 'S';  // a transmit timestamp of 1900
    ask(request);
    EXPECT_EQ(stored("LastSyncTime"), checked) << "a failed run is no check of the clock";

    // This machine's UTC clock ten minutes on.
    const auto seconds = static_cast<uint32_t>(std::time(nullptr) + 600 + 2208988800LL);
    for (int i = 0; i < 4; ++i) request[40 + i] = static_cast<uint8_t>(seconds >> (24 - 8 * i));
    EXPECT_EQ(ask(request).size(), 48u);
    // The module's clock minus this machine's, as the console's SNTP query sees it.
    std::smatch offset;
    const std::string out = console({"sntp"});
    ASSERT_TRUE(std::regex_search(out, offset, std::regex(R"(offset: ([-+]?[\d.]+) s)"))) << out;
    EXPECT_NEAR(std::stod(offset[1]), 600.0, 5.0) << "a console \"S\" over UDP sets the clock";
    EXPECT_NE(stored("LastSyncTime"), checked);
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
