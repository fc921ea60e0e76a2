// The module driven by the console client and by raw peers, as the console would: over TCP, the time-server
// role, and over UDP the sync run as the console meets it there, with set requests and failed runs that
// record no difference and do not pass for a check of the clock. Who may give orders: the Security key's
// allow-list and action switches, with an allowed (127.0.0.1) and a refused (127.0.0.2) source address.
#include <gtest/gtest.h>

#include <filesystem>
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

// An SNTP-shaped datagram: the first byte (the console's command letter, or a real mode byte) and this
// machine's UTC clock shifted by the seconds as the transmit timestamp.
std::vector<uint8_t> datagram(uint8_t first, int shift_seconds) {
    std::vector<uint8_t> p(48, 0);
    p[0] = first;
    const auto seconds = static_cast<uint32_t>(std::time(nullptr) + shift_seconds + 2208988800LL);
    for (int i = 0; i < 4; ++i) p[40 + i] = static_cast<uint8_t>(seconds >> (24 - 8 * i));
    return p;
}

// The module serves the console over UDP with a two-minute minimum; its first start finds yesterday's check
// of the clock, one hour being the warning's limit.
class SyncRunE2E : public ModuleTest {
protected:
    void start() {
        ModuleTest::start("LoggingEvntOn,True\r\nClientFormat,2\r\nServerFormat,2\r\nSetMinThreshold,120000\r\n"
                          "SyncWarning,True\r\nSyncWarningInterval,3600\r\n", true);
    }
    // The module answers before it runs the engine; the answer to the next request means the run is over.
    std::vector<uint8_t> ask(const std::vector<uint8_t>& request, bool settle = false) {
        UdpPeer peer;
        std::vector<uint8_t> reply, next;
        EXPECT_TRUE(peer.send_to(port, request) && peer.receive(reply, 3000));
        EXPECT_TRUE(!settle || (peer.send_to(port, {'H', '+'}) && peer.receive(next, 3000)));
        return reply;
    }
    // The module's clock minus this machine's, in seconds, as the console's SNTP query sees it.
    double module_offset() {
        std::smatch m;
        const std::string out = console({"sntp"});
        return std::regex_search(out, m, std::regex(R"(offset: ([-+]?[\d.]+) s)")) ? std::stod(m[1]) : 1e9;
    }
    // Whether the sync log holds a record of the difference and status (as its last record when last).
    bool recorded(const std::string& difference, int status, bool last = false) const {
        return std::regex_search(home.read("logfile.txt"), std::regex(" " + difference + R"( +-?\d+\.\d +)" +
                                 std::to_string(status) + R"( +127\.0\.0\.1\r\n)" + (last ? "$" : "")));
    }
    size_t events(const std::string& text) const { return occurrences(home.read("evntfile.txt"), text); }
    std::string stored(const std::string& name) const { return run_reg(home, {"get", kOptionsKey, name}).out; }
};

TEST_F(SyncRunE2E, UdpRequestsAreAnsweredSetsFollowTheThresholdsAndOnlyRunsThatMeasuredCount) {
    const std::string warning = "Unable to check clock for the last ";
    std::vector<uint8_t> garbage(48, 0);
    garbage[0] = 'S';  // a transmit timestamp of 1900
    start();
    EXPECT_EQ(events(warning), 1u);
    const std::string checked = stored("LastSyncTime");
    ask(garbage);
    ask(garbage, true);
    EXPECT_EQ(stored("LastSyncTime"), checked) << "failed runs are no check of the clock";
    stop();
    start();
    EXPECT_EQ(events(warning), 2u) << "so the warning fires again";

    // SNTP requests and the console's commands are answered and odd datagrams dropped.
    UdpPeer peer;
    std::vector<uint8_t> request(48, 0), r;
    request[0] = 0x1B;
    request[40] = 0xAB;  // a transmit timestamp of the client's own
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(peer.send_to(port, request) && peer.receive(r, 3000)) << "round " << round;
        EXPECT_TRUE(r.size() == 48 && r[0] == 0x1C && r[24] == 0xAB) << "server mode, the client's time as origin";
    }
    for (const size_t size : {size_t{1}, size_t{47}})
        EXPECT_FALSE(peer.send_to(port, std::vector<uint8_t>(size, 0x1B)) && peer.receive(r, 300)) << size << " bytes";
    EXPECT_TRUE(peer.send_to(port, std::vector<uint8_t>(65507, 0x1B)) && peer.receive(r, 3000)) << "the largest";
    ASSERT_TRUE(peer.send_to(port, {'H', '+'}) && peer.receive(r, 3000));
    EXPECT_EQ(std::string(r.begin(), r.end()), "OK-H" + std::string(44, '\0'));
    // One bind at start and one renewal after each answered datagram.
    const std::string bind = "Service server listening on UDP port " + std::to_string(port);
    EXPECT_GE(occurrences(home.read("DebugFile.txt"), bind), 6u);

    EXPECT_EQ(ask(datagram('S', 600)).size(), 48u);
    EXPECT_NEAR(module_offset(), 600.0, 5.0) << "a console \"S\" over UDP sets the clock";
    ask(datagram('S', 660), true);
    EXPECT_NEAR(module_offset(), 600.0, 5.0) << "one minute on: below the minimum";
    const std::vector<uint8_t> reply = ask(datagram(0x1B, 1200));
    EXPECT_TRUE(reply.size() == 48 && reply[0] == 0x1C) << "a real client's packet is answered as a server's";
    EXPECT_NEAR(module_offset(), 600.0, 5.0) << "and sets nothing";
    // A failing run after a good setting records no difference and raises no entry over the limit.
    const size_t over_limit = events("seconds exceeds limit of 30 seconds.");
    ask(garbage, true);
    EXPECT_TRUE(recorded("(599|600)\\.", 0));
    EXPECT_TRUE(recorded("\\.", 200, true)) << "no difference";
    EXPECT_EQ(events("seconds exceeds limit of 30 seconds."), over_limit);
    EXPECT_GE(over_limit, 1u);
    EXPECT_EQ(events("Server error"), 0u);
    EXPECT_NE(stored("LastSyncTime"), checked);
    stop();
    start();
    EXPECT_EQ(events(warning), 2u) << "a good run resets the warning";
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
