// Who may give orders: the Security key's allow-list and action switches, over TCP and UDP, with an
// allowed (127.0.0.1) and a refused (127.0.0.2) source address.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>

#include "module_process.h"

namespace ktr::testing {
namespace {

const std::string kSecurityKey = "HKEY_USERS\\.DEFAULT\\Software\\VB and VBA Program Settings\\Ktrsvc\\Security";

// A socket bound to a chosen loopback source address.
class SourcedSocket {
public:
    SourcedSocket(const char* source, bool tcp) : fd_(::socket(AF_INET, tcp ? SOCK_STREAM : SOCK_DGRAM, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        inet_pton(AF_INET, source, &a.sin_addr);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    ~SourcedSocket() { ::close(fd_); }
    bool connect(uint16_t port) {
        const sockaddr_in a = to(port);
        return ::connect(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    }
    void send(const std::string& text, uint16_t port = 0) {
        const sockaddr_in a = to(port);
        if (port) ::sendto(fd_, text.data(), text.size(), 0, reinterpret_cast<const sockaddr*>(&a), sizeof a);
        else (void)!::send(fd_, text.data(), text.size(), MSG_NOSIGNAL);
    }
    // What arrives within the time; "(closed)" when the other end closed.
    std::string receive(int timeout_ms) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeout_ms) <= 0) return "";
        char buf[512];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "(closed)";
    }

private:
    static sockaddr_in to(uint16_t port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
        return a;
    }
    int fd_;
};

class AllowedConsoles : public ::testing::Test {
protected:
    TempDir home;
    uint16_t port = free_option_port();
    std::unique_ptr<ModuleProcess> module;

    void start(const std::string& extra_options = {}, bool udp = false) {
        home.write("ZKEntinit.ini", "TCPPort," + std::to_string(port) + "\r\n" + extra_options);
        home.write("debug.txt", "");
        // The key exists before the first start, as an administrator would write it.
        ASSERT_EQ(run_reg(home, {"set", kSecurityKey, "AllowedConsoles", "127.0.0.1, 10.0.0.0/8"}).exit_code, 0);
        ASSERT_EQ(run_reg(home, {"set", kSecurityKey, "AllowProgramStart", "False"}).exit_code, 0);
        module = std::make_unique<ModuleProcess>(home, std::vector<std::string>{"debug"});
        ASSERT_TRUE(udp ? module->wait_udp(port) : module->wait_tcp(port));
    }
    void TearDown() override {
        if (module) {
            EXPECT_EQ(module->stop().exit_code, 0);
        }
    }
    std::string debug_log() const { return home.read("DebugFile.txt"); }
};

TEST_F(AllowedConsoles, OverTcpOthersAreClosedAtOnceWithoutDisturbingTheConsole) {
    start();
    SourcedSocket console("127.0.0.1", true);
    ASSERT_TRUE(console.connect(port));
    SourcedSocket other("127.0.0.2", true);
    ASSERT_TRUE(other.connect(port));
    other.send("H+");
    EXPECT_EQ(other.receive(2000), "(closed)");
    console.send("H+");
    EXPECT_EQ(console.receive(2000), "OK-H") << "the console's connection was not pre-empted";
    SourcedSocket action("127.0.0.1", true);
    ASSERT_TRUE(action.connect(port));
    action.send("C+touch " + home.path() + "/ran\r\n");
    EXPECT_EQ(action.receive(2000), "OK-C") << "a refused order is answered as a failed one";
    const std::string log = debug_log();
    EXPECT_NE(log.find("Refused request from 127.0.0.2"), std::string::npos);
    EXPECT_NE(log.find("Refused program start"), std::string::npos);
    EXPECT_FALSE(std::ifstream(home.path() + "/ran").good());
}

TEST_F(AllowedConsoles, OverUdpOthersGetNoReply) {
    start("ClientFormat,2\r\nServerFormat,2\r\n", true);
    for (const auto& [source, answered] : {std::pair{"127.0.0.2", false}, std::pair{"127.0.0.1", true}}) {
        SourcedSocket s(source, false);
        s.send("H+", port);
        EXPECT_EQ(s.receive(1000).starts_with("OK-H"), answered) << source;
    }
}

} // namespace
} // namespace ktr::testing
