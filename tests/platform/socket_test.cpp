#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>

#include "fakes/loopback_peer.h"
#include "fakes/pump_until.h"
#include "platform/client_socket.h"
#include "platform/socket.h"

namespace ktr::platform {
namespace {

using testing::pump_until;
using Bytes = std::vector<uint8_t>;

// Records what the array reports and answers each datagram with its own bytes reversed.
struct Recorder : SocketEvents {
    SocketArray* array = nullptr;
    std::vector<int16_t> requests, closes, errors;
    std::vector<Bytes> datagrams;
    size_t tcp_bytes = 0;
    std::string tcp_text;  // what connections sent, a flood's 'x' left out
    bool renew = false;   // after each datagram: close the member, create the next, bind it
    bool refuse = false;  // accept no connection
    bool nested = true;   // each datagram's handler pumps again, as a handler that waits does
    int depth = 0, max_depth = 0;
    int16_t current = 0;
    std::string reply;  // sent on a connection's first data; the member closes once it is all sent
    int send_completes = 0;

    int16_t load_next() {
        array->Load(static_cast<int16_t>(current + 1));
        return static_cast<int16_t>(current + 1);
    }
    void ConnectionRequest(int16_t index, int32_t id) override {
        requests.push_back(index);
        if (!refuse && (*array)(load_next())->Accept(id)) ++current;
    }
    void DataArrival(int16_t index, int32_t) override {
        Socket& s = *(*array)(index);
        Bytes data;
        s.GetData(data);
        if (s.Protocol() == kTcpProtocol) {
            if (tcp_bytes == 0 && !reply.empty()) s.SendData(reply);
            for (const uint8_t b : data)
                if (b != 'x') tcp_text += static_cast<char>(b);
            return void(tcp_bytes += data.size());
        }
        datagrams.push_back(data);
        max_depth = std::max(max_depth, ++depth);
        for (int i = 0; nested && i < 20; ++i) pump_events(1);
        --depth;
        s.SendData(Bytes(data.rbegin(), data.rend()));
        if (!renew) return;
        s.Close();
        const int16_t next = load_next();
        if (current > 0) array->Unload(current);
        current = next;
        Socket& renewed = *(*array)(next);
        renewed.Protocol(kUdpProtocol);
        renewed.LocalPort(s.LocalPort());
        renewed.Bind();
    }
    void Close(int16_t index) override { closes.push_back(index); }
    void SendComplete(int16_t index) override { ++send_completes; (*array)(index)->Close(); }
    void Error(int16_t index, int16_t, const std::string&, int32_t, const std::string&, const std::string&, int32_t,
               bool&) override { errors.push_back(index); }
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

// A handler that waits (pumps again) is not dispatched again by the nested pump: each datagram gets its
// own event after the one before has ended.
TEST_F(Sockets, AReplyReachesTheSenderOfEachDatagramWhateverItsSizeAndHandlersDoNotNest) {
    bind_udp();
    testing::UdpPeer a, b;
    a.send_to(port, {1, 2, 3});
    b.send_to(port, {});
    b.send_to(port, Bytes(65507, 0x5A));
    ASSERT_TRUE(pump_until([&] { return events.datagrams.size() == 3; }));
    EXPECT_EQ(events.max_depth, 1);
    EXPECT_EQ(member0().RemoteHostIP(), "127.0.0.1");
    const auto reply = [](testing::UdpPeer& peer, int timeout_ms = 2000) {
        Bytes data;
        return peer.receive(data, timeout_ms) ? data : Bytes{'n', 'o', 'n', 'e'};
    };
    EXPECT_EQ(reply(a), (Bytes{3, 2, 1}));
    EXPECT_EQ(reply(b), Bytes{});
    EXPECT_EQ(reply(b), Bytes(65507, 0x5A));
    EXPECT_EQ(reply(a, 50), (Bytes{'n', 'o', 'n', 'e'})) << "nothing else went to the first sender";
}

TEST_F(Sockets, RenewingTheMemberAfterEachDatagramLosesNone) {
    bind_udp();
    events.renew = true;
    events.nested = false;
    // Bursts small enough for the kernel's queue: each queues behind the one being answered, and the
    // sender goes on sending while members are renewed.
    constexpr int kBursts = 40, kBurst = 40, kCount = kBursts * kBurst;
    std::atomic<int> replies{0};
    std::atomic<bool> done{false};
    std::thread client([&] {
        testing::UdpPeer peer;
        Bytes reply;
        for (int n = 0; n < kCount; ++n) {
            peer.send_to(port, {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)});
            if (n % kBurst == kBurst - 1)
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

// Unloaded members are taken up again by later loads (the renewal above allocates nothing): each such member
// starts as a new one, whatever the one before left in it.
TEST_F(Sockets, AMemberLoadedAfterOthersWereUnloadedStartsAsANewOne) {
    for (int16_t i = 1; i <= 3; ++i) {
        ASSERT_TRUE(array.Load(i));
        Socket& s = *array(i);
        EXPECT_EQ(std::tuple(s.index(), s.Protocol(), s.LocalPort(), s.State(), s.RemotePort(), s.BytesReceived(),
                             s.BoundPort(), s.RemoteHost() + s.RemoteHostIP() + s.BindAddress()),
                  std::tuple(i, kTcpProtocol, 0, kStateClosed, 0, 0, 0, ""));
        s.Protocol(kUdpProtocol);
        s.LocalPort(port);
        s.BindAddress("127.0.0.1");
        s.RemoteHost("localhost");
        s.RemotePort(9);
        ASSERT_TRUE(s.Bind() && array.Unload(i));
    }
    EXPECT_EQ(array.indexes(), std::vector<int16_t>{0});
}

// Connections wait in the kernel's queue until the pump gets to them, so only the flood needs a thread.
TEST_F(Sockets, HostileAndSilentPeersNeverStallTheOthersAndAnUnacceptedRequestIsRefused) {
#ifdef _WIN32
    constexpr bool kResetMayVanish = true;  // Winsock drops a connection reset before it was accepted
#else
    constexpr bool kResetMayVanish = false;
#endif
    listen_tcp();
    testing::TcpPeer flood, silent, resetter, polite;
    ASSERT_TRUE(flood.connect(port) && silent.connect(port) && resetter.connect(port));
    std::thread flooding([&] { flood.send(std::string(1 << 20, 'x')); });  // a megabyte without a command
    resetter.send("half");
    resetter.reset();
    ASSERT_TRUE(polite.connect(port) && polite.send("H+"));
    polite.close();
    const auto reset_reached = [&] { return events.tcp_text.find("half") != std::string::npos; };
    EXPECT_TRUE(pump_until([&] {
        return events.tcp_bytes >= (1u << 20) + 2 && events.tcp_text.find("H+") != std::string::npos &&
               (kResetMayVanish || reset_reached()) && events.closes.size() >= (reset_reached() ? 2u : 1u);
    })) << events.tcp_bytes << " bytes, " << events.closes.size() << " closes";
    flooding.join();
    const size_t reached = reset_reached() ? 4 : 3;
    EXPECT_EQ(events.requests.size(), reached);
    EXPECT_TRUE(events.errors.empty());
    // A request nobody accepts is refused and the listener goes on.
    events.refuse = true;
    testing::TcpPeer refused;
    ASSERT_TRUE(refused.connect(port));
    ASSERT_TRUE(pump_until([&] { return events.requests.size() == reached + 1; }));
    EXPECT_TRUE(refused.closed_by_peer(3000));
    EXPECT_EQ(member0().State(), kStateListening);
}

// More sockets than one system wait can take: a datagram to the last of them still wakes a blocked round.
TEST_F(Sockets, ADatagramToAnyOfManySocketsWakesABlockedRound) {
    for (int16_t i = 1; i <= 100; ++i) {
        array.Load(i);
        array(i)->Protocol(kUdpProtocol);
        ASSERT_TRUE(array(i)->Bind());
    }
    events.nested = false;
    const int last = array(100)->BoundPort();
    std::thread later([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        testing::UdpPeer().send_to(static_cast<uint16_t>(last), {7});
    });
    const auto start = std::chrono::steady_clock::now();
    while (events.datagrams.empty() && std::chrono::steady_clock::now() - start < std::chrono::seconds(10))
        pump_events(10000);
    later.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << "woken by the datagram";
    EXPECT_EQ(events.datagrams, std::vector<Bytes>{Bytes{7}});
}

// A reply far larger than the system's send buffer goes out in pieces as the reader takes them.
TEST_F(Sockets, AReplyLargerThanTheSendBufferArrivesWholeAndCompletesOnce) {
    listen_tcp();
    for (size_t i = 0; i < (8u << 20); ++i) events.reply.push_back(static_cast<char>(i % 251));
    ClientReply got;
    std::atomic<bool> done{false};
    std::thread client([&] {
        got = tcp_request("127.0.0.1", port, "go", 10000, 2000);
        done = true;
    });
    EXPECT_TRUE(pump_until([&] { return done.load(); }, 30000));
    client.join();
    EXPECT_EQ(events.send_completes, 1);
    EXPECT_TRUE(got.data == events.reply) << got.data.size() << " bytes, " << got.error;
}

} // namespace
} // namespace ktr::platform
