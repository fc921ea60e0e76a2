#include <gtest/gtest.h>

#include <algorithm>

#include "config/options.h"
#include "fakes/fake_clock.h"
#include "fakes/loopback_peer.h"
#include "fakes/pump_until.h"
#include "fakes/trace_capture.h"
#include "server/time_replies.h"

namespace ktr::server {
namespace {

std::vector<uint8_t> client_request(uint8_t transmit_first = 0xE5) {
    std::vector<uint8_t> r(48, 0);
    r[0] = 0x1B;
    for (size_t i = 4; i < 48; ++i) r[i] = static_cast<uint8_t>(i);
    r[40] = transmit_first;
    return r;
}

TEST(TimeReplyBytes, FractionBytesAndTheHexTraceFollowTheirExamples) {
    EXPECT_EQ(frac_to_bytes(0.5f), (std::array<uint8_t, 2>{128, 0}));
    EXPECT_EQ(frac_to_bytes(0.045f), (std::array<uint8_t, 2>{11, 133}));
    EXPECT_EQ(frac_to_bytes(0.0f), (std::array<uint8_t, 2>{0, 0}));
    EXPECT_EQ(frac_to_bytes(0.99999f), (std::array<uint8_t, 2>{255, 255}));
    EXPECT_EQ(trace_packet("X", {27, 0, 255}), "X [0]1B [1]0 [2]FF <-(Hex) size: 3");
    EXPECT_EQ(trace_packet("E", {}), "E <-(Hex) size: 0");
    EXPECT_EQ(bytes_to_text({'O', 'K', 0, 31, ' ', '-', 127, 200, 'H'}), "OK -H");
}

TEST(TimeReplyBytes, TheSntpReplyIsBuiltFromTheRequest) {
    const std::array<uint8_t, 4> t{0xEE, 0xBE, 0x7B, 0x40};
    const std::array<uint8_t, 2> f{11, 133};
    const auto req = client_request();
    const auto p = build_ntp_reply(req, t, f);
    // Header from the request, reference id "ZNTK", reference/receive/transmit seconds from the clock,
    // originate = the client's transmit stamp, the fraction in the receive and transmit stamps.
    std::vector<uint8_t> expected(req.begin(), req.end());
    expected[0] = 0x1C, expected[1] = 1, expected[2] = 4, expected[3] = 0xEE;
    std::copy_n("ZNTK", 4, expected.begin() + 12);
    for (size_t base : {16u, 32u, 40u}) std::copy(t.begin(), t.end(), expected.begin() + base);
    std::copy(req.begin() + 40, req.end(), expected.begin() + 24);
    expected[36] = expected[44] = 11;
    expected[37] = expected[45] = 133;
    expected[46] = expected[47] = 0;
    EXPECT_EQ(p, expected);

    // No transmit timestamp: the request's own originate bytes come back.
    const auto zero = client_request(0);
    const auto q = build_ntp_reply(zero, t, f);
    for (size_t i = 24; i < 32; ++i) EXPECT_EQ(q[i], zero[i]);

    EXPECT_TRUE(build_ntp_reply(std::vector<uint8_t>(47, 0x1B), t, f).empty());
    auto bad = client_request();
    bad[0] = 255;
    EXPECT_TRUE(build_ntp_reply(bad, t, f).empty());
    auto longer = client_request();
    longer.resize(68, 9);
    EXPECT_EQ(build_ntp_reply(longer, t, f).size(), 48u);
}

// A bound UDP member that has just received the peer's request, as the console protocol sees it.
struct UdpReply : ::testing::Test, platform::SocketEvents {
    platform::Socket member{this, 4};
    testing::UdpPeer peer;
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

TEST_F(UdpReply, SendNtpTimeCarriesTheClockInSecondsAndFraction) {
    testing::FakeClock clock(46361.5 + 0.045 / 86400.0);
    testing::ScopedFakeClock scoped(clock);
    testing::TraceCapture trace;
    ASSERT_TRUE(send_NTP_time(member, client_request()));
    std::vector<uint8_t> p;
    ASSERT_TRUE(peer.receive(p));
    ASSERT_EQ(p.size(), 48u);
    EXPECT_EQ((std::vector<uint8_t>(p.begin() + 40, p.end())),
              (std::vector<uint8_t>{0xEE, 0xBE, 0x7B, 0x40, 11, 133, 0, 0}));
    EXPECT_TRUE(trace.has("SERVER NTP Ports:----------Remote: " + std::to_string(member.RemotePort()) +
                          " Local: " + std::to_string(member.LocalPort())));
    EXPECT_TRUE(trace.has("SERVER Sent NTP time: [0]1C [1]1 [2]4 [3]EE"));
}

TEST_F(UdpReply, TheAcknowledgementIsTheTextPaddedToFortyEightBytes) {
    testing::TraceCapture trace;
    ASSERT_TRUE(send_UDP_string(member, 4, {}, "OK-H"));
    std::vector<uint8_t> p;
    ASSERT_TRUE(peer.receive(p));
    std::vector<uint8_t> expected{'O', 'K', '-', 'H'};
    expected.resize(48, 0);
    EXPECT_EQ(p, expected);
    EXPECT_TRUE(trace.has("CLIENT Sent UDP string: [0]4F [1]4B [2]2D [3]48 [4]0"));
    EXPECT_TRUE(trace.has("Local port: " + std::to_string(member.LocalPort()) + ", remote port: " +
                          std::to_string(member.RemotePort()) + ", Instance: 4"));

    // Too long an acknowledgement or too short a request: reported, and nothing is sent.
    EXPECT_FALSE(send_UDP_string(member, 4, {}, std::string(49, 'x')));
    EXPECT_TRUE(trace.has("Port Error in sending UDP data"));
    EXPECT_FALSE(send_NTP_time(member, {0x1B, 0}));
    EXPECT_TRUE(trace.has("Port Error in sending NTP data"));
    EXPECT_TRUE(trace.has("ID: send_NTP_time 0"));
    EXPECT_FALSE(peer.receive(p, 50));
}

TEST(TimeReplyBytes, UtcClockTextHasHourWithoutLeadingZeroAndThreeDigitMilliseconds) {
    testing::FakeClock clock(46361.0 + (5 * 3600 + 7 * 60 + 3) / 86400.0 + 0.045 / 86400.0);
    testing::ScopedFakeClock scoped(clock);
    EXPECT_EQ(utc_clock_text(), "5:07:03.045");
}

} // namespace
} // namespace ktr::server
