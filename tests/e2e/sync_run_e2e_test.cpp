// The sync run as the console meets it: set requests over UDP, and failed runs that record no difference
// and do not pass for a check of the clock.
#include <gtest/gtest.h>

#include <ctime>
#include <regex>

#include "module_process.h"

namespace ktr::testing {
namespace {

// An SNTP-shaped datagram: the first byte (the console's command letter, or a real mode byte) and this
// machine's UTC clock shifted by the seconds as the transmit timestamp.
std::vector<uint8_t> datagram(uint8_t first, int shift_seconds) {
    std::vector<uint8_t> p(48, 0);
    p[0] = first;
    const auto seconds = static_cast<uint32_t>(std::time(nullptr) + shift_seconds + 2208988800LL);
    for (int i = 0; i < 4; ++i) p[40 + i] = static_cast<uint8_t>(seconds >> (24 - 8 * i));
    return p;
}

struct SyncRecord {
    std::string difference;
    int status;
};

class SyncRunE2E : public ::testing::Test {
protected:
    TempDir home;
    uint16_t port = free_option_port();
    std::unique_ptr<ModuleProcess> module;

    // Starts the module with the port, the event log on and the extra initial options (read at the
    // first start only).
    void start(const std::string& options = {}, bool udp = false) {
        ASSERT_NE(port, 0);
        home.write("ZKEntinit.ini", "TCPPort," + std::to_string(port) + "\r\nLoggingEvntOn,True\r\n" + options);
        module = std::make_unique<ModuleProcess>(home);
        ASSERT_TRUE(udp ? module->wait_udp(port) : module->wait_tcp(port));
    }
    void stop() {
        const RunResult r = module->stop();
        EXPECT_EQ(r.exit_code, 0) << r.err;
        module.reset();
    }
    void TearDown() override {
        if (module) stop();
    }
    std::string console(std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", std::to_string(port)});
        const RunResult r = run_program(kBinDir + "/ktrsvc-console", args, module_env(home));
        EXPECT_EQ(r.exit_code, 0) << r.err;
        return r.out;
    }
    // Sends the datagram and waits for the module's 48-byte answer.
    std::vector<uint8_t> ask_udp(const std::vector<uint8_t>& request) {
        UdpPeer peer;
        std::vector<uint8_t> reply;
        EXPECT_TRUE(peer.send_to(port, request) && peer.receive(reply, 3000));
        return reply;
    }
    // The module answers before it runs the engine; the answer to the next request means the run is over.
    void settle(bool udp = false) {
        if (udp) ask_udp({'H', '+'});
        else console({"H"});
    }
    // The module's clock minus this machine's, in seconds, as the console's SNTP query sees it.
    double module_offset() {
        std::smatch m;
        const std::string out = console({"sntp"});
        return std::regex_search(out, m, std::regex(R"(offset: ([-+]?[\d.]+) s)")) ? std::stod(m[1]) : 1e9;
    }
    std::vector<SyncRecord> sync_log() const {
        const std::string log = home.read("logfile.txt");
        static const std::regex record(R"((\S+) +-?\d+\.\d +(-?\d+) +127\.0\.0\.1\r\n)");
        std::vector<SyncRecord> out;
        for (auto it = std::sregex_iterator(log.begin(), log.end(), record); it != std::sregex_iterator(); ++it)
            out.push_back({(*it)[1], std::stoi((*it)[2])});
        return out;
    }
    size_t events(const std::string& text) const {
        const std::string log = home.read("evntfile.txt");
        size_t n = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
        return n;
    }
    std::string stored(const std::string& name) const { return run_reg(home, {"get", kOptionsKey, name}).out; }
};

TEST_F(SyncRunE2E, UdpSetRequestsFollowTheThresholdsAndClientRepliesAreRefused) {
    start("ClientFormat,2\r\nServerFormat,2\r\nSetMinThreshold,120000\r\n", true);  // a two-minute minimum
    EXPECT_EQ(ask_udp(datagram('S', 600)).size(), 48u);
    EXPECT_NEAR(module_offset(), 600.0, 5.0);
    ASSERT_EQ(sync_log().size(), 1u);
    EXPECT_EQ(sync_log()[0].status, 0);
    EXPECT_TRUE(sync_log()[0].difference == "600." || sync_log()[0].difference == "599.") << sync_log()[0].difference;

    ask_udp(datagram('S', 660));  // one minute on: below the minimum
    EXPECT_NEAR(module_offset(), 600.0, 5.0);
    EXPECT_EQ(sync_log().back().status, 5);

    // A real SNTP packet in client mode is answered as a time server answers, and sets nothing.
    const std::vector<uint8_t> reply = ask_udp(datagram(0x1B, 1200));
    ASSERT_EQ(reply.size(), 48u);
    EXPECT_EQ(reply[0], 0x1C);
    EXPECT_NEAR(module_offset(), 600.0, 5.0);
    EXPECT_EQ(sync_log().size(), 2u);
    EXPECT_EQ(events("Server error"), 0u);
}

TEST_F(SyncRunE2E, AFailedRunAfterAGoodSettingRecordsNoDifference) {
    start("ClientFormat,2\r\nServerFormat,2\r\n", true);
    ask_udp(datagram('S', 100));
    std::vector<uint8_t> garbage(48, 0);
    garbage[0] = 'S';  // a transmit timestamp of 1900
    ask_udp(garbage);
    settle(true);
    ASSERT_EQ(sync_log().size(), 2u);
    EXPECT_EQ(sync_log()[1].status, 200);
    EXPECT_EQ(sync_log()[1].difference, ".") << "no difference";
    EXPECT_EQ(events("Setting done - String was corrupt or format was wrong"), 1u);
    EXPECT_EQ(events("seconds exceeds limit of 30 seconds."), 1u) << "the good setting's only";
}

TEST_F(SyncRunE2E, FailedRunsLetTheSyncWarningFireAndAGoodOneResetsIt) {
    const std::string warning = "Unable to check clock for the last ";
    start("SyncWarning,True\r\nSyncWarningInterval,3600\r\n");  // the first start finds yesterday's check
    EXPECT_EQ(events(warning), 1u);
    const std::string checked = stored("LastSyncTime");
    for (int i = 0; i < 3; ++i) console({"raw", "S+ 26-13-45 99:99:99 x"});
    settle();
    EXPECT_EQ(stored("LastSyncTime"), checked) << "failed runs are no check of the clock";
    stop();

    start();
    EXPECT_EQ(events(warning), 2u);
    console({"sync"});
    settle();
    EXPECT_NE(stored("LastSyncTime"), checked);
    stop();

    start();
    EXPECT_EQ(events(warning), 2u);
}

} // namespace
} // namespace ktr::testing
