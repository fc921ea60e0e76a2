#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "fakes/loopback_peer.h"
#include "fakes/pump_until.h"
#include "platform/socket.h"

namespace ktr::platform {
namespace {

using testing::pump_until;

// Records what the array reports and, for UDP, answers each datagram with its own bytes reversed.
struct Recorder : SocketEvents {
    SocketArray* array = nullptr;
    std::vector<int16_t> requests, closes, errors;
    std::vector<std::vector<uint8_t>> datagrams;
    size_t tcp_bytes = 0;
    bool echo = false;
    bool renew = false;   // after each datagram: close the member, create the next, bind it
    bool refuse = false;  // accept no connection
    bool nested = false;  // each datagram's handler pumps again, as a handler that waits does
    int depth = 0, max_depth = 0;
    int16_t current = 0;

    void ConnectionRequest(int16_t index, int32_t id) override {
        requests.push_back(index);
        if (refuse) return;
        const int16_t next = static_cast<int16_t>(current + 1);
        array->Load(next);
        if ((*array)(next)->Accept(id)) current = next;
    }
    void DataArrival(int16_t index, int32_t) override {
        Socket& s = *(*array)(index);
        std::vector<uint8_t> data;
        s.GetData(data);
        if (s.Protocol() == kTcpProtocol) {
            tcp_bytes += data.size();
            return;
        }
        datagrams.push_back(data);
        max_depth = std::max(max_depth, ++depth);
        for (int i = 0; nested && i < 20; ++i) pump_events(1);
        --depth;
        if (echo) s.SendData(std::vector<uint8_t>(data.rbegin(), data.rend()));
        if (renew) {
            s.Close();
            const int16_t next = static_cast<int16_t>(current + 1);
            array->Load(next);
            if (current > 0) array->Unload(current);
            current = next;
            Socket& n = *(*array)(next);
            n.Protocol(kUdpProtocol);
            n.LocalPort(s.LocalPort());
            n.Bind();
        }
    }
    void Close(int16_t index) override { closes.push_back(index); }
    void Error(int16_t index, int16_t, const std::string&, int32_t, const std::string&, const std::string&, int32_t,
               bool&) override {
        errors.push_back(index);
    }
};

struct Sockets : ::testing::Test {
    Recorder events;
    SocketArray array{&events};
    uint16_t port = testing::free_port();
    Sockets() { events.array = &array; }
    Socket& member0() { return *array(0); }
    void bind_udp() {
        member0().Protocol(kUdpProtocol);
        member0().LocalPort(port);
        ASSERT_TRUE(member0().Bind());
        EXPECT_EQ(member0().State(), kStateOpen);
    }
    void listen_tcp() {
        member0().LocalPort(port);
        ASSERT_TRUE(member0().Listen());
        EXPECT_EQ(member0().State(), kStateListening);
    }
};

TEST_F(Sockets, AReplyReachesTheSenderOfEachDatagramWhateverItsSize) {
    bind_udp();
    events.echo = true;
    testing::UdpPeer a, b;
    a.send_to(port, {1, 2, 3});
    b.send_to(port, {});
    b.send_to(port, std::vector<uint8_t>(65507, 0x5A));
    ASSERT_TRUE(pump_until([&] { return events.datagrams.size() == 3; }));
    EXPECT_EQ(member0().RemoteHostIP(), "127.0.0.1");
    std::vector<uint8_t> reply;
    ASSERT_TRUE(a.receive(reply));
    EXPECT_EQ(reply, (std::vector<uint8_t>{3, 2, 1}));
    ASSERT_TRUE(b.receive(reply));
    EXPECT_TRUE(reply.empty());
    ASSERT_TRUE(b.receive(reply));
    EXPECT_EQ(reply.size(), 65507u);
    EXPECT_FALSE(a.receive(reply, 50)) << "nothing else went to the first sender";
}

// A socket whose handler waits (pumps again) is not dispatched by the nested pump: the second datagram
// waits for the first handler to end, then gets its own event.
TEST_F(Sockets, ABusySocketIsNotDispatchedAgainByANestedPump) {
    bind_udp();
    events.nested = true;
    testing::UdpPeer peer;
    peer.send_to(port, {1, 2});
    peer.send_to(port, {3, 4});
    EXPECT_TRUE(pump_until([&] { return events.datagrams.size() == 2; }));
    EXPECT_EQ(events.max_depth, 1);
}

TEST_F(Sockets, RenewingTheMemberAfterEachDatagramLosesNone) {
    bind_udp();
    events.echo = true;
    events.renew = true;
    // Bursts small enough for the kernel's queue: each queues behind the one being answered, and the
    // sender goes on sending while members are renewed.
    constexpr int kBursts = 40, kBurst = 40, kCount = kBursts * kBurst;
    std::atomic<int> replies{0};
    std::atomic<bool> done{false};
    std::thread client([&] {
        testing::UdpPeer peer;
        std::vector<uint8_t> reply;
        for (int b = 0; b < kBursts; ++b) {
            for (int i = 0; i < kBurst; ++i) {
                const int n = b * kBurst + i;
                peer.send_to(port, {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)});
            }
            for (int i = 0; i < kBurst && peer.receive(reply, 2000); ++i) ++replies;
        }
        done = true;
    });
    EXPECT_TRUE(pump_until([&] { return done.load(); }, 60000));
    client.join();
    EXPECT_EQ(replies, kCount);
    ASSERT_EQ(events.datagrams.size(), static_cast<size_t>(kCount));
    for (int i = 0; i < kCount; ++i) EXPECT_EQ(events.datagrams[i][1] * 256 + events.datagrams[i][0], i);
    EXPECT_EQ(array.indexes(), (std::vector<int16_t>{0, kCount}));
}

TEST_F(Sockets, APortReleasedForGoodIsFreeAgainAfterTheGraceTime) {
    bind_udp();
    member0().Close();
    EXPECT_EQ(member0().State(), kStateClosed);
    testing::PortHolder other(port, false);
    EXPECT_FALSE(other.ok()) << "within the grace time the port stays ours";
    pump_until([] { return false; }, kPortGraceMs + 300);
    testing::PortHolder later(port, false);
    EXPECT_TRUE(later.ok());
}

TEST_F(Sockets, HostileAndSilentPeersNeverStallTheOthers) {
    listen_tcp();
    std::atomic<int> stage{0};
    std::thread client([&] {
        testing::TcpPeer flood, silent, resetter, polite;
        flood.connect(port);
        silent.connect(port);
        resetter.connect(port);
        flood.send(std::string(1 << 20, 'x'));  // a megabyte without a command
        resetter.send("half");
        resetter.reset();
        polite.connect(port);
        polite.send("H+");
        polite.close();
        stage = 1;
        while (stage != 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    const auto all_seen = [&] { return stage == 1 && events.tcp_bytes >= (1u << 20) + 6 && events.closes.size() >= 2; };
    ASSERT_TRUE(pump_until(all_seen)) << events.tcp_bytes << " bytes, " << events.closes.size() << " closes";
    EXPECT_EQ(events.requests.size(), 4u);
    EXPECT_TRUE(events.errors.empty());
    stage = 2;
    client.join();
}

TEST_F(Sockets, ARequestNobodyAcceptsIsRefusedAndTheListenerGoesOn) {
    listen_tcp();
    events.refuse = true;
    std::atomic<bool> closed{false};
    std::thread client([&] {
        testing::TcpPeer peer;
        peer.connect(port);
        closed = peer.closed_by_peer(3000);
    });
    ASSERT_TRUE(pump_until([&] { return events.requests.size() == 1; }));
    client.join();
    EXPECT_TRUE(closed);
    EXPECT_EQ(member0().State(), kStateListening);
}

TEST_F(Sockets, SeveralMembersListenOnOnePortAndTheLastToArmGetsTheRequest) {
    listen_tcp();
    array.Load(5);
    Socket& second = *array(5);
    second.LocalPort(port);
    ASSERT_TRUE(second.Listen()) << "the port is shared, not refused";
    events.current = 5;
    std::thread client([&] {
        testing::TcpPeer peer;
        peer.connect(port);
        peer.send("T+");
        peer.closed_by_peer(100);
    });
    ASSERT_TRUE(pump_until([&] { return events.requests.size() == 1; }));
    client.join();
    EXPECT_EQ(events.requests[0], 5);
    ASSERT_TRUE(array.Unload(5));
    EXPECT_EQ(member0().State(), kStateListening);
}

} // namespace
} // namespace ktr::platform
