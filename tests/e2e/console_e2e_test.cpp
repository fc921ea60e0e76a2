// The module driven over loopback by the console client and by raw peers, as the console would.
#include <gtest/gtest.h>

#include <chrono>
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

// Seconds since the epoch of an "OK-T yyyy-mm-dd h:nn:ss.mmm" reply (-1 when it is not one).
double reply_epoch(const std::string& reply) {
    static const std::regex form(R"(^OK-T (\d{4})-(\d{2})-(\d{2}) (\d{1,2}):(\d{2}):(\d{2})\.(\d{3})\n$)");
    std::smatch m;
    if (!std::regex_match(reply, m, form)) return -1;
    std::tm tm{};
    tm.tm_year = std::stoi(m[1]) - 1900;
    tm.tm_mon = std::stoi(m[2]) - 1;
    tm.tm_mday = std::stoi(m[3]);
    tm.tm_hour = std::stoi(m[4]);
    tm.tm_min = std::stoi(m[5]);
    tm.tm_sec = std::stoi(m[6]);
    return static_cast<double>(timegm(&tm)) + std::stoi(m[7]) / 1000.0;
}

double now_epoch() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

class ConsoleE2E : public ::testing::Test {
protected:
    TempDir home;
    uint16_t port = free_option_port();
    std::unique_ptr<ModuleProcess> module;

    // Starts the module with the port and the extra initial options, tracing to its debug file.
    void start(const std::string& extra_options = {}, EnvOverrides env = {}, bool udp = false) {
        ASSERT_NE(port, 0);
        home.write("ZKEntinit.ini", "TCPPort," + std::to_string(port) + "\r\n" + extra_options);
        home.write("debug.txt", "");
        module = std::make_unique<ModuleProcess>(home, std::vector<std::string>{"debug"}, env);
        ASSERT_TRUE(udp ? module->wait_udp(port) : module->wait_tcp(port));
    }
    void TearDown() override {
        if (!module) return;
        const RunResult r = module->stop();
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_NE(debug_log().find("Enterprise Service Module UNLOADING"), std::string::npos);
    }
    RunResult console(std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", std::to_string(port)});
        return run_program(kBinDir + "/ktrsvc-console", args, module_env(home));
    }
    std::string reply(const std::vector<std::string>& args) {
        const RunResult r = console(args);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        return r.out;
    }
    std::string debug_log() const { return home.read("DebugFile.txt"); }
    // The module's clock minus this machine's, in seconds.
    double module_offset() { return reply_epoch(reply({"T"})) - now_epoch(); }
};

TEST_F(ConsoleE2E, OverTcpEveryRequestIsAnsweredOrDroppedAndASetMovesTheClock) {
    start();
    EXPECT_EQ(reply({"H"}), "OK-H\n");
    EXPECT_EQ(reply({"raw", "h+"}), "Unknown\n");
    const std::string t = reply({"T"});
    EXPECT_NEAR(reply_epoch(t), now_epoch(), 5.0) << t << ": the simulated clock starts at this machine's time";
    EXPECT_EQ(reply({"C", "Windows", "Logoff"}), "OK-C\n");
    EXPECT_NE(home.read("power-actions.txt"), "") << "the log-off is recorded, not carried out";
    EXPECT_EQ(reply({"X", "1", "On", "Latch", "COM250", "9600"}).substr(0, 4), "OK-X") << "answered without a port";
    // Garbled set strings are answered but never set the clock.
    for (const char* args : {"S+", "S+ 26-13-45 99:99:99 x", "F+ 26-12-05"})
        EXPECT_EQ(reply({"raw", args}).substr(0, 3), "OK-") << args;
    EXPECT_NEAR(module_offset(), 0.0, 5.0);
    EXPECT_EQ(console({"--timeout", "1", "raw", "HELLO"}).exit_code, 1) << "no \"+\": no reply at all";
    for (const std::string& odd : {std::string(200000, 'A') + "+", std::string("\0\x01\xFF+", 4)}) {
        TcpPeer peer;
        ASSERT_TRUE(peer.connect(port));
        ASSERT_TRUE(peer.send(odd));
        EXPECT_EQ(peer.receive(5000).substr(0, 7), "Unknown");
    }
    EXPECT_EQ(reply({"H"}), "OK-H\n");

    const std::string ok = reply({"S", console_time(600), "250"});
    EXPECT_TRUE(std::regex_match(ok, std::regex(R"(OK-S \d\d-\d\d-\d\d \d\d:\d\d:\d\d\.\d{0,3}\n)"))) << ok;
    EXPECT_EQ(ok.substr(5, 8), console_time(0).substr(0, 8)) << "the reply carries the clock before the setting";
    EXPECT_NEAR(module_offset(), 600.0, 5.0);
    const std::string log = home.read("logfile.txt");
    EXPECT_TRUE(std::regex_search(log, std::regex(R"(\n\s+(599|600)\.\d+\s+\S+\s+0\s+127\.0\.0\.1)"))) << log;
    EXPECT_NE(run_reg(home, {"get", kOptionsKey, "LastSyncTime"}).out, "");
}

TEST_F(ConsoleE2E, OverUdpSntpAndCommandsAreAnsweredAndOddDatagramsDropped) {
    start("ClientFormat,2\r\nServerFormat,2\r\n", {}, true);
    UdpPeer peer;
    std::vector<uint8_t> request(48, 0);
    request[0] = 0x1B;
    request[40] = 0xAB;  // a transmit timestamp of the client's own
    std::vector<uint8_t> r;
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(peer.send_to(port, request));
        ASSERT_TRUE(peer.receive(r, 3000)) << "round " << round;
        ASSERT_EQ(r.size(), 48u);
        EXPECT_EQ(r[0], 0x1C) << "server mode";
        EXPECT_EQ(r[24], 0xAB) << "the originate timestamp is the request's transmit timestamp";
        const double ntp_seconds = (uint32_t(r[40]) << 24 | uint32_t(r[41]) << 16 | uint32_t(r[42]) << 8 | r[43]);
        EXPECT_NEAR(ntp_seconds - 2208988800.0, now_epoch(), 5.0);
    }
    for (const size_t size : {size_t{1}, size_t{47}}) {
        ASSERT_TRUE(peer.send_to(port, std::vector<uint8_t>(size, 0x1B)));
        EXPECT_FALSE(peer.receive(r, 300)) << size << " bytes are dropped";
    }
    ASSERT_TRUE(peer.send_to(port, std::vector<uint8_t>(65507, 0x1B)));
    ASSERT_TRUE(peer.receive(r, 3000)) << "the largest datagram still gets its reply";
    ASSERT_TRUE(peer.send_to(port, {'H', '+'}));
    ASSERT_TRUE(peer.receive(r, 3000));
    std::vector<uint8_t> acknowledgement{'O', 'K', '-', 'H'};
    acknowledgement.resize(48, 0);
    EXPECT_EQ(r, acknowledgement);
    const RunResult sntp = console({"sntp"});
    EXPECT_NE(sntp.out.find("offset: "), std::string::npos) << sntp.err;
    // One bind at start and one renewal after each answered datagram.
    const std::string log = debug_log();
    const std::regex bind("Service server listening on UDP port " + std::to_string(port));
    EXPECT_GE(std::distance(std::sregex_iterator(log.begin(), log.end(), bind), std::sregex_iterator()), 6);
}

TEST_F(ConsoleE2E, TheTimeServerRoleAnswersNistText) {
    start({}, {{"KTRSVC_MODULE_TYPE", "N"}});
    TcpPeer peer;
    ASSERT_TRUE(peer.connect(port));
    ASSERT_TRUE(peer.send("10.1.2.3+T"));
    const std::string r = peer.receive(3000);
    EXPECT_TRUE(std::regex_match(r, std::regex(R"(Server: \d\d-\d\d-\d\d \d\d:\d\d:\d\d)"))) << r;
}

} // namespace
} // namespace ktr::testing
