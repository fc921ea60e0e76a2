// Who may give orders: the Security key's allow-list and action switches, over TCP and UDP, with an
// allowed (127.0.0.1) and a refused (127.0.0.2) source address.
#include <gtest/gtest.h>

#include <filesystem>

#include "module_process.h"

namespace ktr::testing {
namespace {

const std::string kSecurityKey = "HKEY_USERS\\.DEFAULT\\Software\\VB and VBA Program Settings\\Ktrsvc\\Security";

class AllowedConsoles : public ModuleTest {
protected:
    // The key exists before the first start, as an administrator would write it.
    void SetUp() override {
        ASSERT_EQ(run_reg(home, {"set", kSecurityKey, "AllowedConsoles", "127.0.0.1, 10.0.0.0/8"}).exit_code, 0);
        ASSERT_EQ(run_reg(home, {"set", kSecurityKey, "AllowProgramStart", "False"}).exit_code, 0);
    }
};

TEST_F(AllowedConsoles, OverTcpOthersAreClosedAtOnceWithoutDisturbingTheConsole) {
    start();
    TcpPeer console, other, action;
    ASSERT_TRUE(console.connect(port) && other.connect(port, "127.0.0.2") && other.send("H+"));
    EXPECT_EQ(other.receive(), "");
    EXPECT_TRUE(other.closed_by_peer(0)) << "closed without a reply";
    EXPECT_TRUE(console.send("H+"));
    EXPECT_EQ(console.receive(), "OK-H") << "the console's connection was not pre-empted";
    ASSERT_TRUE(action.connect(port) && action.send("C+touch " + home.file("ran") + "\r\n"));
    EXPECT_EQ(action.receive(), "OK-C") << "a refused order is answered as a failed one";
    const std::string log = home.read("DebugFile.txt");
    EXPECT_NE(log.find("Refused request from 127.0.0.2"), std::string::npos);
    EXPECT_NE(log.find("Refused program start"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(home.file("ran")));
}

TEST_F(AllowedConsoles, OverUdpOthersGetNoReply) {
    if (under_wine()) GTEST_SKIP() << "Wine gives every loopback datagram the source 127.0.0.1, so none is refused";
    start("ClientFormat,2\r\nServerFormat,2\r\n", true);
    for (const auto& [source, answered] : {std::pair{"127.0.0.2", false}, std::pair{"127.0.0.1", true}}) {
        UdpPeer peer(source);
        std::vector<uint8_t> r;
        const bool got = peer.send_to(port, {'H', '+'}) && peer.receive(r, 1000);
        EXPECT_EQ(got && std::string(r.begin(), r.end()).starts_with("OK-H"), answered) << source;
    }
}

} // namespace
} // namespace ktr::testing
