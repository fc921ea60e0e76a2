#include <gtest/gtest.h>

#include "fakes/fake_clock.h"
#include "fakes/loopback_peer.h"
#include "fakes/pump_until.h"
#include "fakes/trace_capture.h"
#include "server/time_replies.h"

namespace ktr::server {
namespace {

TEST(TimeReplyTexts, HexTraceAndPrintableText) {
    EXPECT_EQ(trace_packet("X", {27, 0, 255}), "X [0]1B [1]0 [2]FF <-(Hex) size: 3");
    EXPECT_EQ(bytes_to_text({'O', 'K', 0, 31, ' ', '-', 127, 200, 'H'}), "OK -H");
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

// What reaches the peer is the end-to-end test's; here the clock's fraction and the refusals.
TEST_F(UdpReply, SntpReplyCarriesTheClockAndNothingIsSentWhenItCannotBe) {
    testing::FakeClock clock(46361.5 + 0.045 / 86400.0);
    testing::ScopedFakeClock scoped(clock);
    std::vector<uint8_t> p(48, 0);
    p[0] = 0x1B;
    ASSERT_TRUE(send_NTP_time(member, p) && peer.receive(p));
    EXPECT_EQ((std::vector<uint8_t>(p.begin() + 40, p.end())),
              (std::vector<uint8_t>{0xEE, 0xBE, 0x7B, 0x40, 11, 133, 0, 0}));
    EXPECT_TRUE(trace.has("SERVER Sent NTP time: [0]1C [1]1 [2]4 [3]EE"));
    // A reading the caller took: seconds and fraction both come from it, never from a second look at the clock.
    platform::DateParts reading = clock.utc_now();
    reading.second -= 1;
    reading.millisecond = 999;
    ASSERT_TRUE(send_NTP_time(member, std::vector<uint8_t>(48, 0x1B), reading) && peer.receive(p));
    EXPECT_EQ((std::vector<uint8_t>(p.begin() + 40, p.end())),
              (std::vector<uint8_t>{0xEE, 0xBE, 0x7B, 0x3F, 255, 190, 0, 0}));
    // Too long an acknowledgement or too short a request: reported, and nothing is sent.
    EXPECT_FALSE(send_UDP_string(member, 4, {}, std::string(49, 'x')));
    EXPECT_TRUE(trace.has("Port Error in sending UDP data"));
    EXPECT_FALSE(send_NTP_time(member, {0x1B, 0}));
    EXPECT_TRUE(trace.has("ID: send_NTP_time 0"));
    EXPECT_FALSE(peer.receive(p, 50));
}

} // namespace
} // namespace ktr::server
