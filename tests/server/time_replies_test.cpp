#include <gtest/gtest.h>

#include "engine/clock_text.h"
#include "fakes/fake_clock.h"
#include "fakes/loopback_peer.h"
#include "fakes/pump_until.h"
#include "fakes/trace_capture.h"
#include "server/time_replies.h"

namespace ktr::server {
namespace {

TEST(TimeReplyTexts, HexTracePrintableTextAndTheUtcClock) {
    EXPECT_EQ(trace_packet("X", {27, 0, 255}), "X [0]1B [1]0 [2]FF <-(Hex) size: 3");
    EXPECT_EQ(bytes_to_text({'O', 'K', 0, 31, ' ', '-', 127, 200, 'H'}), "OK -H");
    testing::FakeClock clock(46361.0 + (5 * 3600 + 7 * 60 + 3) / 86400.0 + 0.045 / 86400.0);
    testing::ScopedFakeClock scoped(clock);
    EXPECT_EQ(engine::utc_clock_text(), "5:07:03.045");
}

// A bound UDP member that has just received the peer's request, as the console protocol sees it.
struct UdpReply : ::testing::Test, platform::SocketEvents {
    platform::Socket member{this, 4};
    testing::UdpPeer peer;
    testing::TraceCapture trace;
    bool arrived = false;
    void DataArrival(int16_t, int32_t) override {
        std::vector<uint8_t> d;
        member.GetData(d);
        arrived = true;
    }
    void SetUp() override {
        member.Protocol(platform::kUdpProtocol);
        member.LocalPort(testing::free_port());
        member.RemotePort(member.LocalPort());
        ASSERT_TRUE(member.Bind());
        peer.send_to(static_cast<uint16_t>(member.LocalPort()), {'H', 0});
        ASSERT_TRUE(testing::pump_until([&] { return arrived; }));
    }
};

TEST_F(UdpReply, SntpReplyAndAcknowledgementOrNothingWhenTheyCannotBeSent) {
    testing::FakeClock clock(46361.5 + 0.045 / 86400.0);
    testing::ScopedFakeClock scoped(clock);
    std::vector<uint8_t> p(48, 0);
    p[0] = 0x1B;
    ASSERT_TRUE(send_NTP_time(member, p));
    ASSERT_TRUE(peer.receive(p));
    ASSERT_EQ(p.size(), 48u);
    // The clock's whole seconds and its fraction.
    EXPECT_EQ((std::vector<uint8_t>(p.begin() + 40, p.end())),
              (std::vector<uint8_t>{0xEE, 0xBE, 0x7B, 0x40, 11, 133, 0, 0}));
    EXPECT_TRUE(trace.has("SERVER NTP Ports:----------Remote: " + std::to_string(member.RemotePort()) +
                          " Local: " + std::to_string(member.LocalPort())));
    EXPECT_TRUE(trace.has("SERVER Sent NTP time: [0]1C [1]1 [2]4 [3]EE"));

    ASSERT_TRUE(send_UDP_string(member, 4, {}, "OK-H"));
    ASSERT_TRUE(peer.receive(p));
    std::vector<uint8_t> expected{'O', 'K', '-', 'H'};
    expected.resize(48, 0);
    EXPECT_EQ(p, expected);
    EXPECT_TRUE(trace.has("Local port: " + std::to_string(member.LocalPort()) + ", remote port: " +
                          std::to_string(member.RemotePort()) + ", Instance: 4"));

    // Too long an acknowledgement or too short a request: reported, and nothing is sent.
    EXPECT_FALSE(send_UDP_string(member, 4, {}, std::string(49, 'x')));
    EXPECT_TRUE(trace.has("Port Error in sending UDP data"));
    EXPECT_FALSE(send_NTP_time(member, {0x1B, 0}));
    EXPECT_TRUE(trace.has("ID: send_NTP_time 0"));
    EXPECT_FALSE(peer.receive(p, 50));
}

} // namespace
} // namespace ktr::server
