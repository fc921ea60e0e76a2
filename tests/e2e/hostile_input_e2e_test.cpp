// The module under input a careless neighbour or an attacker would send: split requests, dates no clock
// holds, forged trace lines, special files, a locked or damaged hive, a closed terminal, a help request.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <thread>

#include "module_process.h"
#include "platform/registry_hive.h"

namespace ktr::testing {
namespace {

using namespace std::chrono_literals;

std::string tcp_exchange(uint16_t port, const std::vector<std::string>& pieces, int reply_ms = 3000) {
    TcpPeer peer;
    if (!peer.connect(port)) return "(no connection)";
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) std::this_thread::sleep_for(60ms);
        peer.send(pieces[i]);
    }
    return peer.receive(reply_ms);
}

class HostileInput : public ::testing::Test {
protected:
    TempDir home;
    uint16_t port = free_option_port();
    std::unique_ptr<RunningProgram> module;

    // Runs the module in the foreground through a shell that leaves its process id in the program folder.
    void start(const std::string& extra_options = {}) {
        ASSERT_NE(port, 0);
        if (!std::filesystem::exists(home.file("ZKEntinit.ini"))) home.write("ZKEntinit.ini", "TCPPort," + std::to_string(port) + "\r\n" + extra_options);
        home.write("debug.txt", "");  // keeps the trace going while it runs
        module = std::make_unique<RunningProgram>(
            "/bin/sh", std::vector<std::string>{"-c", "echo $$ > \"$KTRSVC_HOME/pid\"; exec \"$0\" debug", kBinDir + "/ktrsvc"},
            module_env(home));
    }
    bool listening(int timeout_ms = 15000) {
        for (int waited = 0; waited < timeout_ms; waited += 50) {
            TcpPeer probe;
            if (probe.connect(port)) return true;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }
    RunResult signal_and_wait(const char* signal) {
        for (int i = 0; i < 100 && home.read("pid").empty(); ++i) std::this_thread::sleep_for(20ms);
        std::string pid = home.read("pid");
        while (!pid.empty() && pid.back() == '\n') pid.pop_back();
        run_program("/bin/kill", {std::string("-") + signal, pid});
        return module->wait(15000);
    }
    double module_offset() {
        const std::string t = tcp_exchange(port, {"T+"});
        std::tm tm{};
        int ms = 0;
        if (std::sscanf(t.c_str(), "OK-T %d-%d-%d %d:%d:%d.%d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour,
                        &tm.tm_min, &tm.tm_sec, &ms) != 7)
            return 1e12;
        tm.tm_year -= 1900;
        tm.tm_mon -= 1;
        return static_cast<double>(timegm(&tm)) - static_cast<double>(std::time(nullptr));
    }
};

TEST_F(HostileInput, SplitRequestsOddYearsAndForgedLinesThenAClosedTerminalUnloads) {
    start();
    ASSERT_TRUE(listening());
    // A set request in two pieces is the date it was meant to be, not its first piece.
    EXPECT_EQ(tcp_exchange(port, {"S+ 12/26/20", "30 05:37:32 250"}).substr(0, 5), "OK-S ");
    EXPECT_GT(module_offset(), 3.0 * 365 * 86400) << "the clock went to 2030";
    EXPECT_EQ(tcp_exchange(port, {"H", "+"}), "OK-H");
    // A date no clock holds is refused before it reaches the clock.
    EXPECT_EQ(tcp_exchange(port, {"S+ 12/26/9999 05:37:32 250"}).substr(0, 5), "OK-S ");
    const double offset = module_offset();
    EXPECT_TRUE(offset > 3.0 * 365 * 86400 && offset < 6.0 * 365 * 86400) << offset << ": the clock stays in 2030";
    // Received text cannot start a trace line of its own.
    EXPECT_EQ(tcp_exchange(port, {"S+ x\r\n12-31 23:59:59  FORGED y z"}).substr(0, 5), "OK-S ");
    const RunResult r = signal_and_wait("HUP");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const std::string debug = home.read("DebugFile.txt");
    EXPECT_EQ(debug.find("\n12-31 23:59:59  FORGED"), std::string::npos);
    EXPECT_NE(debug.find("S+ x\\r\\n12-31 23:59:59  FORGED"), std::string::npos);
    EXPECT_NE(debug.find("Enterprise Service Module UNLOADING"), std::string::npos);
}

TEST_F(HostileInput, SpecialFilesAreSkippedAndTheModuleServesAndStops) {
    // First the logs and the debug file, with the init file in order; then the init file itself.
    for (const char* name : {"logfile.txt", "evntfile.txt", "DebugFile.txt"})
        ASSERT_EQ(run_program("/usr/bin/mkfifo", {home.path() + "/" + name}).exit_code, 0);
    start();
    ASSERT_TRUE(listening());
    EXPECT_EQ(tcp_exchange(port, {"S+ 12/26/2030 05:37:32 250"}).substr(0, 5), "OK-S ");
    EXPECT_EQ(tcp_exchange(port, {"H+"}), "OK-H");
    RunResult r = signal_and_wait("TERM");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("DebugFile.txt is not a regular file"), std::string::npos) << r.err;

    TempDir second;
    ASSERT_EQ(run_program("/usr/bin/mkfifo", {second.path() + "/ZKEntinit.ini"}).exit_code, 0);
    RunningProgram m(kBinDir + "/ktrsvc", {}, module_env(second));
    std::this_thread::sleep_for(1500ms);
    m.terminate();
    r = m.wait(10000);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("ZKEntinit.ini is not a regular file"), std::string::npos) << r.err;
}

TEST_F(HostileInput, ALockedHiveNeverStopsServing) {
    start();
    ASSERT_TRUE(listening());
    auto other = platform::open_registry_hive(home.path() + "/registry.db");
    ASSERT_TRUE(other->begin_batch());
    platform::RegKey key{platform::registry_root_from_name("HKU"), "Other program", 0};
    other->set_value(key, "Held", platform::RegValue::sz("yes"));
    // A sync stores its time in the hive; the heartbeat after it is still prompt.
    EXPECT_EQ(tcp_exchange(port, {"S+ 12/26/2030 05:37:32 250"}).substr(0, 5), "OK-S ");
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(tcp_exchange(port, {"H+"}, 5000), "OK-H");
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    other->end_batch();
    EXPECT_EQ(signal_and_wait("TERM").exit_code, 0);
}

TEST_F(HostileInput, ADamagedHiveIsReportedOnStandardError) {
    home.write("registry.db", std::string(4096, 'X'));
    start();
    ASSERT_TRUE(listening());
    const RunResult r = signal_and_wait("TERM");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.err.find(home.path() + "/registry.db"), std::string::npos) << r.err;
}

TEST_F(HostileInput, HelpPrintsUsageAndTouchesNothing) {
    const RunResult r = run_program(kBinDir + "/ktrsvc", {"--help"}, module_env(home), {}, 5000);
    EXPECT_EQ(r.exit_code, 0);
    for (const char* word : {"once", "debug", "removereg", "KTRSVC_HOME", "KTRSVC_SIMULATE"})
        EXPECT_NE(r.out.find(word), std::string::npos) << word;
    EXPECT_FALSE(std::filesystem::exists(home.file("registry.db")));
    EXPECT_FALSE(std::filesystem::exists(home.file("DebugFile.txt")));
}

} // namespace
} // namespace ktr::testing
