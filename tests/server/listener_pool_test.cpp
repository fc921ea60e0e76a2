#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "config/options.h"
#include "fakes/fake_clock.h"
#include "fakes/loopback_peer.h"
#include "fakes/pump_until.h"
#include "fakes/trace_capture.h"
#include "server/listener_pool.h"

namespace ktr::server {
namespace {

using testing::pump_until;

struct Listener : ::testing::Test {
    ListenerPool pool;
    uint16_t port = testing::free_port();

    Listener() {
        config::options().TCPPort(static_cast<int16_t>(port));
        config::options().ClientFormat(config::kClientNist);
        config::options().Servername("127.0.0.1");
        // Stands in for the console protocol: answers "X+..." with "OK-X".
        pool.on_data_arrival = [this](int16_t index, int32_t) {
            platform::Socket* s = pool.tcpServer()(index);
            std::string text;
            s->GetData(text);
            if (const auto plus = text.find('+'); plus != std::string::npos) s->SendData("OK-" + text.substr(0, plus));
        };
    }
    ~Listener() override { config::options().ClientFormat(config::kClientNist); }

    void start() {
        pool.serv_init(pool.listener_index());
        ASSERT_FALSE(pool.listener_restart());
    }
};

// The index wraps from its highest value back to 1 instead of refusing every later connection.
TEST_F(Listener, FortyThousandSequentialConnectionsAreAllServed) {
    start();
    std::atomic<int> replies{0};
    std::atomic<bool> done{false};
    std::thread client([&] {  // connect, "H+", read the reply, reset
        for (int i = 0; i < 40000; ++i) {
            testing::TcpPeer peer;
            if (!peer.connect(port) || !peer.send("H+")) break;
            if (peer.receive() == "OK-H") ++replies;
            peer.reset();
        }
        done = true;
    });
    pump_until([&] { return done.load(); }, 600000);
    client.join();
    // The last close reaches the module after the client is done.
    pump_until([&] { return pool.tcpServer()(pool.listener_index())->State() == platform::kStateListening; }, 2000);
    EXPECT_EQ(replies, 40000);
    EXPECT_EQ(pool.listener_index(), 40000 - 32767);
    EXPECT_EQ(pool.tcpServer().indexes(), (std::vector<int16_t>{0, 40000 - 32767}));
    EXPECT_FALSE(pool.listener_restart());
}

TEST_F(Listener, ARequestWhileTheFormatIsUdpOrUnknownIsNotAccepted) {
    start();
    testing::TraceCapture trace;
    for (const auto& row : {std::pair<int16_t, std::string>{2, " UDP, STNP format (ERROR)"},
                            {7, "Connection rquest from unknown client format!"}}) {
        SCOPED_TRACE(row.first);
        config::options().ClientFormat(row.first);
        std::thread client([&] {
            if (testing::TcpPeer peer; peer.connect(port)) peer.closed_by_peer(2000);
        });
        EXPECT_TRUE(pump_until([&] { return trace.has(row.second); }));
        client.join();
        EXPECT_TRUE(pool.tcpServer().indexes() == std::vector<int16_t>{0} && pool.listener_index() == 0);
    }
}

// A socket whose close never takes effect.
struct StuckSocket : platform::Socket {
    int closes = 0;
    bool Close() override { return ++closes > 0; }
    int16_t State() const override { return platform::kStateConnected; }
};

TEST_F(Listener, RetriesFiveTimesAgainstASocketThatNeverCloses) {
    testing::FakeClock clock;
    testing::ScopedFakeClock scoped(clock);
    testing::ScopedFakePauses pauses(clock);
    StuckSocket stuck;
    const int32_t start = clock.tick_count();
    EXPECT_FALSE(pool.clientClose(stuck));
    EXPECT_EQ(stuck.closes, 5);
    EXPECT_NEAR(clock.tick_count() - start, 5 * 2100, 200);
}

TEST_F(Listener, APortTakenByAnotherProgramIsReportedAndRetriedLater) {
    testing::TraceCapture trace;
    std::vector<ListenerReport> reports;
    pool.on_listener_report = [&](const ListenerReport& r) { reports.push_back(r); };
    {
        testing::PortHolder other(port, true);
        ASSERT_TRUE(other.ok());
        pool.serv_init(pool.listener_index());
        EXPECT_TRUE(pool.listener_restart() && trace.has("Error init server") && trace.has("ID: serv_init 25"));
    }
    // The later pass finds the port free; a second set-up is refused yet still listens: nothing to report.
    pool.serv_init(pool.listener_index());
    EXPECT_FALSE(pool.listener_restart());
    pool.serv_init(pool.listener_index());
    EXPECT_EQ(pool.tcpServer()(0)->State(), platform::kStateListening);
    EXPECT_EQ(reports, (std::vector<ListenerReport>{{false, "TCP", port, platform::kErrAddressInUse, "Address in use"},
                                                    {true, "TCP", port, 0, ""}}));
    EXPECT_EQ(listener_remedy_text(reports[0]),
              "Another program holds the port: end it, or set the TCPPort option to another port.");
}

TEST_F(Listener, ASocketErrorRaisesTheRestartFlagOnlyUntilTheReArmWorks) {
    start();
    testing::TraceCapture trace;
    pool.tcpServer().Load(3);
    bool cancel = false;
    pool.Error(3, 10053, "Connection is aborted due to timeout or other failure", 0, "", "", 0, cancel);
    EXPECT_TRUE(trace.has("Server Winsock Error: 10053\r\nConnection is aborted"));
    EXPECT_FALSE(pool.listener_restart()) << "re-armed on the shared port";
    EXPECT_EQ(pool.tcpServer()(3)->State(), platform::kStateListening);

    // With the port in another program's hands the re-arm fails and the flag stays up.
    pool.tcpServer()(3)->Close();
    pool.tcpServer()(0)->Close();
    pump_until([] { return false; }, platform::kPortGraceMs + 300);
    testing::PortHolder other(port, true);
    ASSERT_TRUE(other.ok());
    pool.Error(3, 10054, "Connection is reset by remote side", 0, "", "", 0, cancel);
    EXPECT_TRUE(pool.listener_restart() && trace.has("Error resetting server") && trace.has("Can't reset server."));
}

} // namespace
} // namespace ktr::server
