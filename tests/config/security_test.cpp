// The allow-list of consoles: addresses and networks, and what is no address at all.
#include <gtest/gtest.h>

#include "config/security.h"

namespace ktr::config {
namespace {

TEST(Security, TheAllowListMatchesAddressesAndNetworksAndSkipsWhatIsNoAddress) {
    std::vector<std::string> bad;
    SecuritySettings s;
    s.allowed_consoles = parse_allowed_networks("127.0.0.1, 10.1.0.0/16;192.0.2.300 host.example 0.0.0.0/33", &bad);
    EXPECT_EQ(bad, (std::vector<std::string>{"192.0.2.300", "host.example", "0.0.0.0/33"}));
    const std::pair<const char*, bool> rows[] = {
        {"127.0.0.1", true},  {"127.0.0.2", false}, {"10.1.255.7", true}, {"10.2.0.1", false},
        {"::ffff:127.0.0.1", true}, {"", false},     {"::1", false},
    };
    for (const auto& [address, allowed] : rows) EXPECT_EQ(s.console_allowed(address), allowed) << address;
    EXPECT_TRUE(SecuritySettings{}.console_allowed("192.0.2.9")) << "no list: any address, as before";
}

} // namespace
} // namespace ktr::config
