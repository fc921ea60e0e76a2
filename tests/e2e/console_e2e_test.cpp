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
    std::string stored(const std::string& name) {
        const std::string out = run_reg(home, {"get", kOptionsKey, name}).out;
        return out.empty() ? out : out.substr(0, out.size() - 1);
    }
    // The module's clock minus this machine's, in seconds.
    double module_offset() { return reply_epoch(reply({"T"})) - now_epoch(); }
};

TEST_F(ConsoleE2E, HeartbeatUnknownCommandsAndTheClock) {
    start();
    EXPECT_EQ(reply({"H"}), "OK-H\n");
    EXPECT_EQ(reply({"raw", "h+"}), "Unknown\n");
    EXPECT_EQ(reply({"raw", "HELP+me"}), "Unknown\n");
    const std::string t = reply({"T"});
    ASSERT_GT(reply_epoch(t), 0) << t;
    EXPECT_NEAR(reply_epoch(t), now_epoch(), 5.0) << "the simulated clock starts at this machine's time";
    const std::string log = debug_log();
    EXPECT_NE(log.find("127.0.0.1 Cmd: H"), std::string::npos);
    EXPECT_NE(log.find("127.0.0.1 Cmd: h"), std::string::npos);
    EXPECT_NE(log.find("Begin SendData at: "), std::string::npos);
}

TEST_F(ConsoleE2E, SetTenMinutesAheadMovesTheClockAndRecordsTheRun) {
    start();
    const std::string before = stored("LastSyncTime");
    const std::string ok = reply({"S", console_time(600), "250"});
    EXPECT_TRUE(std::regex_match(ok, std::regex(R"(OK-S \d\d-\d\d-\d\d \d\d:\d\d:\d\d\.\d{0,3}\n)"))) << ok;
    EXPECT_EQ(ok.substr(5, 8), console_time(0).substr(0, 8)) << "the reply carries the clock before the setting";
    EXPECT_NEAR(module_offset(), 600.0, 5.0);

    const std::string log = home.read("logfile.txt");
    EXPECT_NE(log.find("Synchronization Log"), std::string::npos);
    EXPECT_TRUE(std::regex_search(log, std::regex(R"(\n\s+(599|600)\.\d+\s+\S+\s+0\s+127\.0\.0\.1)"))) << log;
    EXPECT_NE(stored("LastSyncTime"), before);
    EXPECT_TRUE(stored("AutoPrevDifference") == "600" || stored("AutoPrevDifference") == "599")
        << stored("AutoPrevDifference");
    EXPECT_NE(debug_log().find("DATA ARRIVED DONE"), std::string::npos);
}

TEST_F(ConsoleE2E, ForceSetsBelowTheMinimumAndALaterSetIsNotForced) {
    start("SetMinThreshold,120000\r\n");  // two minutes
    ASSERT_EQ(reply({"F", console_time(60), "0"}).substr(0, 5), "OK-F ");
    EXPECT_NEAR(module_offset(), 60.0, 5.0);
    // The same small step asked with "S" is below the minimum: nothing is set.
    ASSERT_EQ(reply({"S", console_time(120), "0"}).substr(0, 5), "OK-S ");
    EXPECT_NEAR(module_offset(), 60.0, 5.0);
    const std::string log = debug_log();
    EXPECT_NE(log.find("<Force time strg:_F+ "), std::string::npos);
    EXPECT_NE(log.find("...No Time difference No time set"), std::string::npos);
}

TEST_F(ConsoleE2E, BadTcpRequestsAreDroppedOrAnsweredAndServingGoesOn) {
    start();
    // Garbled set strings are answered but never set the clock.
    for (const char* args : {"S+", "S+ ", "S+ 26-13-45 99:99:99 x", "S+ yesterday", "F+ 26-12-05"})
        EXPECT_EQ(reply({"raw", args}).substr(0, 3), "OK-") << args;
    EXPECT_NEAR(module_offset(), 0.0, 5.0);
    EXPECT_NE(debug_log().find("DATA ARRIVED DONE"), std::string::npos);
    EXPECT_EQ(console({"--timeout", "1", "raw", "HELLO"}).exit_code, 1) << "no \"+\": no reply at all";
    EXPECT_EQ(reply({"raw", "+"}), "Unknown\n") << "an empty command";
    {
        TcpPeer peer;
        ASSERT_TRUE(peer.connect(port));
        ASSERT_TRUE(peer.send(std::string(200000, 'A') + "+"));
        EXPECT_EQ(peer.receive(5000).substr(0, 7), "Unknown");
    }
    {
        TcpPeer peer;
        ASSERT_TRUE(peer.connect(port));
        std::string binary;
        for (int i = 0; i < 256; ++i) binary += static_cast<char>(i);
        ASSERT_TRUE(peer.send(binary));
        peer.receive(500);
    }
    EXPECT_EQ(reply({"H"}), "OK-H\n");
}

TEST_F(ConsoleE2E, SntpOverUdpIsAnsweredAndTheNextMemberIsBound) {
    start("ClientFormat,2\r\nServerFormat,2\r\n", {}, true);
    UdpPeer peer;
    std::vector<uint8_t> request(48, 0);
    request[0] = 0x1B;
    request[40] = 0xAB;  // a transmit timestamp of the client's own
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(peer.send_to(port, request));
        std::vector<uint8_t> r;
        ASSERT_TRUE(peer.receive(r, 3000)) << "round " << round;
        ASSERT_EQ(r.size(), 48u);
        EXPECT_EQ(r[0], 0x1C) << "server mode";
        EXPECT_EQ(r[1], 1) << "stratum";
        EXPECT_EQ(r[24], 0xAB) << "the originate timestamp is the request's transmit timestamp";
        const double ntp_seconds = (uint32_t(r[40]) << 24 | uint32_t(r[41]) << 16 | uint32_t(r[42]) << 8 | r[43]);
        EXPECT_NEAR(ntp_seconds - 2208988800.0, now_epoch(), 5.0);
    }
    const RunResult sntp = console({"sntp"});
    EXPECT_EQ(sntp.exit_code, 0) << sntp.err;
    EXPECT_NE(sntp.out.find("offset: "), std::string::npos);

    ASSERT_TRUE(peer.send_to(port, {'H', '+'}));
    std::vector<uint8_t> hb;
    ASSERT_TRUE(peer.receive(hb, 3000));
    ASSERT_EQ(hb.size(), 48u);
    EXPECT_EQ(std::string(hb.begin(), hb.begin() + 4), "OK-H");
    EXPECT_EQ(hb[4], 0);

    const std::string log = debug_log();
    EXPECT_NE(log.find("In from SNTP ZKENT: [0]1B"), std::string::npos);
    // One bind at start and one renewal after each answered datagram.
    const std::regex bind("Service server listening on UDP port " + std::to_string(port));
    EXPECT_GE(std::distance(std::sregex_iterator(log.begin(), log.end(), bind), std::sregex_iterator()), 5);
}

TEST_F(ConsoleE2E, OddDatagramsAreDroppedOrAnsweredAndServingGoesOn) {
    start("ClientFormat,2\r\n", {}, true);
    UdpPeer peer;
    std::vector<uint8_t> r;
    for (const size_t size : {size_t{0}, size_t{1}}) {
        ASSERT_TRUE(peer.send_to(port, std::vector<uint8_t>(size, 0x1B)));
        EXPECT_FALSE(peer.receive(r, 300)) << size << " bytes are dropped";
    }
    ASSERT_TRUE(peer.send_to(port, std::vector<uint8_t>(47, 0x1B)));
    EXPECT_FALSE(peer.receive(r, 300)) << "too short for an SNTP reply";
    ASSERT_TRUE(peer.send_to(port, std::vector<uint8_t>(65507, 0x1B)));
    ASSERT_TRUE(peer.receive(r, 3000)) << "the largest datagram still gets its reply";
    EXPECT_EQ(r.size(), 48u);
    std::vector<uint8_t> binary(300);
    for (size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<uint8_t>(i * 7);
    binary[0] = 'S';  // a set whose "reply" is garbage: the engine refuses it
    ASSERT_TRUE(peer.send_to(port, binary));
    EXPECT_TRUE(peer.receive(r, 3000));
    ASSERT_TRUE(peer.send_to(port, {'H', '+'}));
    ASSERT_TRUE(peer.receive(r, 3000));
    EXPECT_EQ(std::string(r.begin(), r.begin() + 4), "OK-H");
    const std::string log = debug_log();
    EXPECT_NE(log.find("Reply is empty"), std::string::npos);
    EXPECT_NE(log.find("Server: Data Arrival Error."), std::string::npos);
}

TEST_F(ConsoleE2E, RemoteActionsAndRelayRequestsAreAnswered) {
    start();
    EXPECT_EQ(reply({"C", "Windows", "Logoff"}), "OK-C\n");
    EXPECT_NE(home.read("power-actions.txt"), "") << "the log-off is recorded, not carried out";
    const std::string relay = reply({"X", "1", "On", "Latch", "COM250", "9600"});
    EXPECT_EQ(relay.substr(0, 4), "OK-X") << "answered even when the port cannot be opened";
    EXPECT_EQ(reply({"H"}), "OK-H\n");
}

TEST_F(ConsoleE2E, TheTimeServerRoleAnswersNistTextAndSntp) {
    start({}, {{"KTRSVC_MODULE_TYPE", "N"}});
    TcpPeer peer;
    ASSERT_TRUE(peer.connect(port));
    ASSERT_TRUE(peer.send("10.1.2.3+T"));
    const std::string r = peer.receive(3000);
    EXPECT_TRUE(std::regex_match(r, std::regex(R"(Server: \d\d-\d\d-\d\d \d\d:\d\d:\d\d)"))) << r;
    EXPECT_NE(debug_log().find("SERVER  NIST(ZK)client, local port: "), std::string::npos);
}

} // namespace
} // namespace ktr::testing
