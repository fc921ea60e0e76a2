#include <chrono>
#include <gtest/gtest.h>
#include <thread>

#include "fakes/loopback_peer.h"
#include "fakes/module_state.h"
#include "platform/files.h"
#include "platform/power.h"
#include "server/remote_actions.h"

namespace ktr::server {
namespace {

// Power requests are only ever simulated here: they land in power-actions.txt of a temporary folder.
class RemoteActionsTest : public testing::ModuleStateTest {
protected:
    std::string power_actions() const { return dir_.read("power-actions.txt"); }
    std::string received(int wait_ms = 2000) {
        std::vector<uint8_t> d;
        return peer_.receive(d, wait_ms) ? std::string(d.begin(), d.end()) : std::string();
    }

    testing::ScopedEnv simulate_{"KTRSVC_SIMULATE", "power"};
    testing::UdpPeer peer_;
    RemoteActions actions_;
    std::string status_ = "untouched";
};

TEST_F(RemoteActionsTest, ShutdownWordsGiveTheirFlagsAndTheStatusText) {
    // Repeated words combine; unknown and lower-case words add nothing.
    const std::pair<const char*, const char*> rows[] = {
        {"Windows Reboot (forced)", "Flags: 6 (Reboot, forced)"}, {"Windows Logoff", "Flags: 0 (Logoff)"},
        {"Windows Shutdown Power-off", "Flags: 9 (Power-off)"},
        {"Windows Reboot Reboot reboot Restart", "Flags: 2 (Reboot)"}};
    for (const auto& [words, flags] : rows) {
        EXPECT_EQ(actions_.do_command(std::string("C+") + words, status_), "") << words;
        EXPECT_EQ(status_, words);
        EXPECT_NE(power_actions().find(flags), std::string::npos) << words;
    }
}

// No shell runs the line; lower-case "windows" is no shutdown word but names a program to run.
TEST_F(RemoteActionsTest, RunStartsTheProgramWithoutWaitingAndWithoutAShellOrGivesShellError) {
#ifdef _WIN32
    // The program is this test program as a helper (see the program tests): it writes the words it got.
    const std::string line = "'" + ::testing::internal::GetArgvs()[0] +
                             "' --gtest_filter=CommandLine.* --ktr-helper write '" + dir_.file("words.txt") +
                             "' 'two words' %PATH% \"$HOME\"x";
    EXPECT_EQ(actions_.do_command("C+" + line, status_), "");
    EXPECT_EQ(status_, "Run: " + line);
    std::string words;
    for (int i = 0; i < 1000 && (words = dir_.read("words.txt")).find("ktr-end") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(words, "ktr-words:[two words][%PATH%][$HOMEx]ktr-end") << "no shell expanded anything";
    // notepad.exe is there on Windows.
    for (const char* request : {"C+windows shutdown", "C+no-such-program-ktr", "C+", "C+'open quote"}) {
#else
    const std::string line = "touch '" + dir_.file("started here") + "' \"" + dir_.path() + "/$HOME\"x";
    EXPECT_EQ(actions_.do_command("C+" + line, status_), "");
    EXPECT_EQ(status_, "Run: " + line);
    std::string contents;
    for (int i = 0; i < 300 && !platform::read_file(dir_.file("$HOMEx"), contents); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(platform::read_file(dir_.file("$HOMEx"), contents)) << "no shell expanded $HOME";
    EXPECT_TRUE(platform::read_file(dir_.file("started here"), contents)) << "a quoted word is one argument";
    for (const char* request :
         {"C+windows shutdown", "C+no-such-program-ktr", "C+", "C+'open quote", "C+notepad.exe"}) {
#endif
        EXPECT_EQ(actions_.do_command(request, status_), "Shell Error") << request;
        EXPECT_EQ(status_, "Run: " + std::string(request).substr(2)) << request;
    }
    EXPECT_EQ(power_actions(), "");
}

TEST_F(RemoteActionsTest, WakeOnLanSendsTheMagicPacketOnlyForAGoodRequest) {
    actions_.ctlUltraWOL1().redirect_for_tests("127.0.0.1", peer_.port());  // a loopback peer, not a broadcast
    EXPECT_EQ(actions_.do_command("C+WOL-127.0.0.1-127.0.0.1-00-0C-29-3A-5B-7C", status_), "OK");
    EXPECT_EQ(status_, "WOL: ");
    std::string expected(6, '\xFF');
    for (int i = 0; i < 16; ++i) expected += std::string("\x00\x0C\x29\x3A\x5B\x7C", 6);
    EXPECT_EQ(received(), expected);
    // Addresses and MAC come from the request; words after the MAC are ignored.
    actions_.do_command("C+WOL-192.0.2.255-192.0.2.10-00-0C-29-3A-5B-7D-extra", status_);
    const auto& wol = actions_.ctlUltraWOL1();
    EXPECT_EQ(wol.BroadcastAddress() + " " + wol.LocalAddress() + " " + wol.MACAddress(),
              "192.0.2.255 192.0.2.10 00-0C-29-3A-5B-7D");
    received(100);  // whether binding to another machine's address sent anything differs by system

    // Too few fields end the action before it starts; bad addresses fail the sending.
    for (const auto& [fields, result] :
         {std::pair{"-192.0.2.255-192.0.2.10-00-0C-29-3A-5B", ""}, {"", ""},
          {"-127.0.0.1-127.0.0.1-00-0C-29-3A-5B-ZZ", "Error"}, {"-not.an.ip-127.0.0.1-00-0C-29-3A-5B-7C", "Error"},
          {"-127.0.0.1-300.1.1.1-00-0C-29-3A-5B-7C", "Error"}}) {
        status_ = "untouched";
        EXPECT_EQ(actions_.do_command(std::string("C+WOL") + fields, status_), result) << fields;
        EXPECT_EQ(status_, *result ? "WOL: " : "untouched") << fields;
    }
    EXPECT_EQ(received(100), "") << "nothing is sent for a bad request";
}

// The steps before a power request: each failure leaves its own last error, which the steps' trace shows,
// and asking for the shutdown right succeeds either way, the last error saying whether it was granted.
TEST(PowerSteps, FailuresLeaveTheirLastErrorAndTheShutdownRightIsGrantedOrSaidNotToBe) {
    using namespace platform;
    TokenHandle token = 0;
    EXPECT_TRUE(!OpenProcessToken(0, kTokenQuery | kTokenAdjustPrivileges, token) && GetLastError() == 6u);
    Luid luid;
    EXPECT_TRUE(!LookupPrivilegeValueA("", "SeNoSuchPrivilegeKtr", luid) && GetLastError() == kErrorNoSuchPrivilege);
    SetLastError(0);
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), kTokenQuery | kTokenAdjustPrivileges, token));
    ASSERT_TRUE(LookupPrivilegeValueA("", "SeShutdownPrivilege", luid));
    EXPECT_EQ(GetLastError(), kErrorSuccess);
    TokenPrivileges wanted{1, luid, kPrivilegeEnabled}, previous;
    uint32_t returned = 0;
    ASSERT_TRUE(AdjustTokenPrivileges(token, false, wanted, 16, &previous, &returned));
    EXPECT_TRUE(GetLastError() == kErrorSuccess || GetLastError() == kErrorNotAllAssigned) << GetLastError();
}

TEST(MacAddress, AcceptsSixHexGroupsOfOneOrTwoDigits) {
    EXPECT_EQ(platform::parse_mac_address("0-c:29-3a-5B-7c"), (std::array<uint8_t, 6>{0, 0x0C, 0x29, 0x3A, 0x5B, 0x7C}));
    for (const char* bad : {"", "00-0C-29-3A-5B", "00-0C-29-3A-5B-7C-11", "00--0C-29-3A-5B-7C", "0x-0C-29-3A-5B-7C",
                            "00-0C-29-3A-5B-7C ", "000-0C-29-3A-5B-7C"})
        EXPECT_FALSE(platform::parse_mac_address(bad)) << bad;
}

} // namespace
} // namespace ktr::server
