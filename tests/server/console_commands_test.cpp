// The console's requests: when one received so far is whole enough to act on, what each command over each
// transport replies, shows and sets off, and the time replies sent over UDP.
#include <gtest/gtest.h>

#include "config/options.h"
#include "fakes/fake_clock.h"
#include "fakes/loopback_peer.h"
#include "fakes/module_state.h"
#include "fakes/pump_until.h"
#include "fakes/trace_capture.h"
#include "platform/date_value.h"
#include "server/console_protocol.h"
#include "server/request_assembly.h"
#include "server/time_replies.h"

namespace ktr::server {
namespace {

using enum ConsoleTransport;

TEST(RequestAssembly, APieceIsNeverTakenForTheWholeRequest) {
    using enum RequestForm;
    const std::pair<const char*, RequestForm> rows[] = {
        {"H", partial}, {"H+", whole}, {"T+", whole}, {"h+", whole}, {"S+ 26-12-0", partial},
        {"S+ 26-12-05 05:37:32", partial}, {"S+ 26-12-05 05:37:32 2", partial}, {"S+ 26-12-05 05:37:32 250", whole},
        {"F+ 12/05/2026 05:37:32 25\r\n", whole}, {"X+1 On 5 COM2 96", partial}, {"X+1 On Latch COM2 9600", whole},
        {"C+WOL-192.0.2.255-192.0.2.10-00-0C-29-3A-5B-7", partial},
        {"C+WOL-192.0.2.255-192.0.2.10-00-0C-29-3A-5B-7C", whole}, {"C+Win", partial},
        {"C+Windows Logoff", free_text}, {"C+notepad.exe\r\n", whole},
    };
    for (const auto& [text, form] : rows) EXPECT_EQ(request_form(text), form) << text;
}

class ConsoleCommands : public testing::ModuleStateTest {
protected:
    ConsoleCommands() {
        clock_.set_utc(platform::make_date(2026, 12, 5, 5, 7, 3, 45));
        config::options().X10ComPort(2);
        actions.do_command = [this](const std::string& request, std::string& status) {
            calls.push_back(request);
            return status = "Windows Logoff", std::string("action result");
        };
        actions.do_Relay = [this](const std::string& request, int16_t port, std::string& relay, std::string& status) {
            calls.push_back(request + " on COM" + std::to_string(port));
            return relay = "On", status = "relay status", std::string("relay result");
        };
    }

    ConsoleActions actions;
    std::vector<std::string> calls;
};

TEST_F(ConsoleCommands, EachCommandOverEachTransport) {
    struct Row { ConsoleTransport transport; const char *command, *request; CommandReply expected; };
    const Row rows[] = {
        {tcp, "H", "H+", {.text = "OK-H", .status = "Check Heartbeat"}},
        {tcp, "T", "T+", {.text = "OK-T 2026-12-05 5:07:03.045", .timed_send = true, .status = "Check client time"}},
        // The fraction of the second has no trailing zeros.
        {tcp, "S", "S+ 26-12-05 05:17:03 500",
         {.text = "OK-S 26-12-05 05:07:03.045", .set_clock = true, .status = "Set client time"}},
        {tcp, "F", "F+ 26-12-05 05:17:03 500",
         {.text = "OK-F 26-12-05 05:07:03", .set_clock = true, .status = "Force client time"}},
        {tcp, "C", "C+Windows Logoff", {.text = "OK-C", .status = "Windows Logoff", .response = "action result"}},
        {tcp, "X", "X+1 On 5 COM2 9600", {.text = "OK-X On", .status = "relay status", .response = "relay result"}},
        // Commands are compared whole and case-sensitively.
        {tcp, "", "+", {.text = "Unknown", .status = "Unknown command", .response = "Error"}},
        {tcp, "HELP", "HELP+me", {.text = "Unknown", .status = "Unknown command", .response = "Error"}},
        {udp, "H", "H+", {.text = "OK-H", .status = "Check Heartbeat"}},
        {udp, "T", "T", {.sntp = true, .status = "Check client time"}},
        {udp, "S", "S", {.sntp = true, .set_clock = true, .status = "Set client time"}},
        {udp, "F", "F", {.sntp = true, .set_clock = true, .status = "Force client time"}},
        {udp, "C", "CWindows Logoff", {.text = "OK-C", .status = "Windows Logoff", .response = "action result"}},
        {udp, "X", "X1 On 5", {.text = "OK-X", .status = "relay status", .response = "relay result"}},
        // A plain SNTP request: its first byte holds leap, version and mode.
        {udp, "\x1B", "", {.sntp = true, .status = "Check client time SNTP"}},
        {udp, "h", "h", {.sntp = true, .status = "Check client time SNTP"}},
    };
    // Also into one kept reply, as the UDP path answers: whatever the row before left there, every field is new.
    CommandReply kept;
    for (const Row& row : rows) {
        EXPECT_EQ(console_command(row.command, row.request, row.transport, actions), row.expected)
            << (row.transport == tcp ? "TCP " : "UDP ") << row.request;
        console_command(row.command, row.request, row.transport, actions, kept);
        EXPECT_EQ(kept, row.expected) << "kept reply: " << row.request;
    }
    EXPECT_EQ(calls, (std::vector<std::string>{"C+Windows Logoff", "C+Windows Logoff", "X+1 On 5 COM2 9600 on COM2",
                                               "X+1 On 5 COM2 9600 on COM2", "CWindows Logoff", "CWindows Logoff",
                                               "X1 On 5 on COM2", "X1 On 5 on COM2"}));
}

// Without actions (the time-server role) remote and relay requests are unknown.
TEST_F(ConsoleCommands, WithoutActionsRemoteAndRelayRequestsAreUnknown) {
    for (const char* command : {"C", "X"}) {
        EXPECT_EQ(console_command(command, "C+x", tcp, {}),
                  (CommandReply{.text = "Unknown", .status = "Unknown command", .response = "Error"}));
        EXPECT_EQ(console_command(command, "Cx", udp, {}),
                  (CommandReply{.sntp = true, .status = "Check client time SNTP"}));
    }
}

// A bound UDP member that has just received the peer's request, as the console protocol sees it.
struct UdpReply : ::testing::Test, platform::SocketEvents {
    platform::Socket member{this, 4};
    testing::UdpPeer peer;
    testing::TraceCapture trace;
    bool arrived = false;
    void DataArrival(int16_t, int32_t) override {
        std::vector<uint8_t> d;
        member.GetData(d), arrived = true;
    }
    void SetUp() override {
        member.Protocol(platform::kUdpProtocol), member.LocalPort(testing::free_port());
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
    std::vector<uint8_t> p;
    // A reading the caller took: seconds and fraction both come from it, never from a second look at the clock.
    platform::DateParts reading = clock.utc_now();
    reading.second -= 1;
    reading.millisecond = 999;
    ASSERT_TRUE(send_NTP_time(member, std::vector<uint8_t>(48, 0x1B), reading) && peer.receive(p));
    EXPECT_EQ((std::vector<uint8_t>(p.begin() + 40, p.end())),
              (std::vector<uint8_t>{0xEE, 0xBE, 0x7B, 0x3F, 255, 190, 0, 0}));
    // Too long an acknowledgement or too short a request: reported, and nothing is sent.
    EXPECT_TRUE(!send_UDP_string(member, 4, {}, std::string(49, 'x')) && trace.has("Port Error in sending UDP data"));
    EXPECT_TRUE(!send_NTP_time(member, {0x1B, 0}) && trace.has("ID: send_NTP_time 0"));
    EXPECT_FALSE(peer.receive(p, 50));
}

} // namespace
} // namespace ktr::server
