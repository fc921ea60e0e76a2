// Who may give orders: the allow-list of consoles, the program list, the bound on started programs, the
// per-source limit of UDP replies and the address a listener serves.
#include <gtest/gtest.h>

#include "config/security.h"
#include "fakes/fake_clock.h"
#include "platform/client_socket.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "server/console_guard.h"

namespace ktr::server {
namespace {

TEST(Security, TheAllowListMatchesAddressesAndNetworksAndSkipsWhatIsNoAddress) {
    std::vector<std::string> bad;
    config::SecuritySettings s;
    s.allowed_consoles =
        config::parse_allowed_networks("127.0.0.1, 10.1.0.0/16;192.0.2.300 host.example 0.0.0.0/33", &bad);
    EXPECT_EQ(bad, (std::vector<std::string>{"192.0.2.300", "host.example", "0.0.0.0/33"}));
    const std::pair<const char*, bool> rows[] = {
        {"127.0.0.1", true},  {"127.0.0.2", false}, {"10.1.255.7", true}, {"10.2.0.1", false},
        {"::ffff:127.0.0.1", true}, {"", false},     {"::1", false},
    };
    for (const auto& [address, allowed] : rows) EXPECT_EQ(s.console_allowed(address), allowed) << address;
    EXPECT_TRUE(config::SecuritySettings{}.console_allowed("192.0.2.9")) << "no list: any address, as before";
}

struct ConsoleGuard : ::testing::Test {
    config::SecuritySettings saved = config::security();
    config::SecuritySettings& s = config::security();
    void TearDown() override { config::security() = saved; }
};

TEST_F(ConsoleGuard, TheProgramListAdmitsNamesAndPathsAsWrittenAndTheBoundCountsLivePrograms) {
    s.allowed_programs = {"true", "/usr/bin/logger"};
    const std::pair<const char*, bool> rows[] = {
        {"C+true", true},           {"C+'true' x", true},          {"C+/usr/bin/logger hi", true},
        {"C+/tmp/true", false},     {"C+logger hi", false},        {"C+sh -c true", false},
        {"C+'open quote", false},   {"C+Windows Logoff", true},  // power requests have a switch of their own
    };
    for (const auto& [request, admitted] : rows) EXPECT_EQ(action_admitted(request, 'C'), admitted) << request;

    // Programs of other tests may still run: the bound is judged against a count of at least one.
    s.allowed_programs.clear();
#ifdef _WIN32
    // Windows has no sleep program: this test program's own helper (tests/platform/process_test.cpp) waits.
    ASSERT_TRUE(platform::start_program("'" + ::testing::internal::GetArgvs()[0] +
                                        "' --gtest_filter=CommandLine.* --ktr-helper sleep 5000"));
#else
    ASSERT_TRUE(platform::start_program("sleep 5"));
#endif
    s.max_programs = 1;
    EXPECT_FALSE(action_admitted("C+true", 'C')) << "a program is still running";
}

TEST_F(ConsoleGuard, UdpRepliesAreLimitedPerSourceAndSecond) {
    testing::FakeClock clock;
    testing::ScopedFakeClock scoped(clock);
    EXPECT_TRUE(udp_reply_admitted("127.0.0.9")) << "no limit by default";
    s.udp_replies_per_second = 2;
    EXPECT_TRUE(udp_reply_admitted("127.0.0.1") && udp_reply_admitted("127.0.0.1"));
    EXPECT_FALSE(udp_reply_admitted("127.0.0.1"));
    EXPECT_TRUE(udp_reply_admitted("127.0.0.2")) << "another source has a limit of its own";
    clock.advance_ms(1000);
    EXPECT_TRUE(udp_reply_admitted("127.0.0.1")) << "a new second";
}

TEST(ListenAddress, AListenerServesOnlyItsAddressAndRefusesOneThatIsNoAddress) {
    platform::Socket listener;
    listener.BindAddress("127.0.0.2");
    ASSERT_TRUE(listener.Listen());
    const int port = listener.BoundPort();
    EXPECT_NE(platform::tcp_request("127.0.0.1", port, "H+", 200).error.find("refused"), std::string::npos);
    EXPECT_EQ(platform::tcp_request("127.0.0.2", port, "H+", 200).error, "no reply within the timeout");
    platform::Socket bad;
    bad.BindAddress("host.example");
    EXPECT_FALSE(bad.Listen());
}

} // namespace
} // namespace ktr::server
