// The console's command table: what each command over each transport replies, shows and sets off.
#include <gtest/gtest.h>

#include "config/options.h"
#include "fakes/module_state.h"
#include "platform/date_value.h"
#include "server/console_protocol.h"

namespace ktr::server {
namespace {

using enum ConsoleTransport;

class ConsoleCommands : public testing::ModuleStateTest {
protected:
    ConsoleCommands() {
        clock_.set_utc(platform::make_date(2026, 12, 5, 5, 7, 3, 45));
        config::options().X10ComPort(2);
        actions.do_command = [this](const std::string& request, std::string& status) {
            calls.push_back(request);
            status = "Windows Logoff";
            return std::string("action result");
        };
        actions.do_Relay = [this](const std::string& request, int16_t port, std::string& relay_text,
                                  std::string& status) {
            calls.push_back(request + " on COM" + std::to_string(port));
            relay_text = "On";
            status = "relay status";
            return std::string("relay result");
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
        {tcp, "h", "h+", {.text = "Unknown", .status = "Unknown command", .response = "Error"}},
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
TEST_F(ConsoleCommands, WithoutActionsRemoteAndRelayRequestsAreUnknownAndASetTracesItsText) {
    for (const char* command : {"C", "X"}) {
        EXPECT_EQ(console_command(command, "C+x", tcp, {}),
                  (CommandReply{.text = "Unknown", .status = "Unknown command", .response = "Error"}));
        EXPECT_EQ(console_command(command, "Cx", udp, {}),
                  (CommandReply{.sntp = true, .status = "Check client time SNTP"}));
    }
    // A datagram has no request text to trace.
    console_command("F", "F+ 26-12-05 05:17:03 500", tcp, actions);
    console_command("S", "S garbage", udp, actions);
    EXPECT_TRUE(traced("<Force time strg:_F+ 26-12-05 05:17:03 500_\r\n") && traced("<Time strg:__\r\n"));
}

} // namespace
} // namespace ktr::server
