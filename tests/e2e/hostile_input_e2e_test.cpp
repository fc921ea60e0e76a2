// The module under input a careless neighbour or an attacker would send: split requests, dates no clock
// holds, forged trace lines, special files, a locked hive, a closed terminal, a help request. A damaged hive
// is the start-up test's.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "module_process.h"
#include "platform/registry_hive.h"

namespace ktr::testing {
namespace {

using namespace std::chrono_literals;

using HostileInput = ModuleTest;

TEST_F(HostileInput, SplitRequestsOddYearsAndForgedLinesThenAClosedTerminalUnloads) {
    start();
    // A set request in two pieces is the date it was meant to be, not its first piece.
    EXPECT_EQ(tcp_exchange(port, {"S+ 12/26/20", "30 05:37:32 250"}).substr(0, 5), "OK-S ");
    // A date no clock holds is refused before it reaches the clock.
    EXPECT_EQ(tcp_exchange(port, {"S+ 12/26/9999 05:37:32 250"}).substr(0, 5), "OK-S ");
    EXPECT_NEAR(offset_of(tcp_exchange(port, {"T+"})) / (365 * 86400.0), 4.5, 1.5) << "went to 2030 and stays";
    // Received text cannot start a trace line of its own.
    EXPECT_EQ(tcp_exchange(port, {"S+ x\r\n12-31 23:59:59  FORGED y z"}).substr(0, 5), "OK-S ");
    stop(Ending::hang_up);
    const std::string debug = home.read("DebugFile.txt");
    EXPECT_EQ(debug.find("\n12-31 23:59:59  FORGED"), std::string::npos);
    EXPECT_NE(debug.find("S+ x\\r\\n12-31 23:59:59  FORGED"), std::string::npos);
}

TEST_F(HostileInput, SpecialFilesAreSkippedAndTheModuleServesAndStops) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no FIFO to put in a folder: its named pipes live apart from the files";
#endif
    // First the logs and the debug file, with the init file in order; then the init file itself.
    for (const char* name : {"logfile.txt", "evntfile.txt", "DebugFile.txt"})
        ASSERT_EQ(run_program("/usr/bin/mkfifo", {home.path() + "/" + name}).exit_code, 0);
    start();
    EXPECT_EQ(tcp_exchange(port, {"S+ 12/26/2030 05:37:32 250"}).substr(0, 5), "OK-S ");
    EXPECT_EQ(tcp_exchange(port, {"H+"}), "OK-H");
    module->terminate();  // not stop(): the debug file it would read is a pipe
    RunResult r = module->wait(15000);
    module.reset();
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("DebugFile.txt is not a regular file"), std::string::npos) << r.err;

    ProgramFolder second;
    ASSERT_EQ(run_program("/usr/bin/mkfifo", {second.path() + "/ZKEntinit.ini"}).exit_code, 0);
    RunningProgram m(program("ktrsvc"), {}, module_env(second));
    std::this_thread::sleep_for(1500ms);
    m.terminate();
    r = m.wait(10000);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("ZKEntinit.ini is not a regular file"), std::string::npos) << r.err;
}

TEST_F(HostileInput, ALockedHiveNeverStopsServing) {
#ifdef _WIN32
    GTEST_SKIP() << "the Windows registry has no lock that another program can hold over the module's key";
#endif
    start();
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
}

TEST_F(HostileInput, HelpPrintsUsageAndTouchesNothing) {
    const RunResult r = run_program(program("ktrsvc"), {"--help"}, module_env(home), {}, 5000);
    EXPECT_EQ(r.exit_code, 0);
    for (const char* word : {"once", "debug", "removereg", "KTRSVC_HOME", "KTRSVC_SIMULATE"})
        EXPECT_NE(r.out.find(word), std::string::npos) << word;
    EXPECT_FALSE(std::filesystem::exists(home.file("registry.db")));
    EXPECT_FALSE(std::filesystem::exists(home.file("DebugFile.txt")));
}

} // namespace
} // namespace ktr::testing
