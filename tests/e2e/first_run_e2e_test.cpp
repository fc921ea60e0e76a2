// A newcomer's first run: the run script's program folder, a module that cannot listen, the console tool
// when nothing listens.
#include <gtest/gtest.h>

#include "fakes/pty_pair.h"
#include "module_process.h"

namespace ktr::testing {
namespace {

TEST(FirstRun, TheRunScriptGivesAnOrdinaryUsersFirstStartAPortAbove1023) {
#ifdef _WIN32
    GTEST_SKIP() << "the run script is a POSIX shell script; on Windows the program folder is copied as it is";
#endif
    const char* const rows[][4] = {  // the user, the file before and after, the port served
        {"1000", "", "TCPPort,11001\r\n", "11001"},
        {"0", "", "", "1001"},  // root binds the default port
        {"1000", "TCPPort,2345\r\n", "TCPPort,2345\r\n", "2345"}};  // the user's own file is kept
    for (const auto& [user_id, before, after, served] : rows) {
        TempDir home;
        if (*before) home.write("ZKEntinit.ini", before);
        const RunResult r = run_program(KTRSVC_SOURCE_DIR "/scripts/prepare-home.sh", {home.path(), user_id},
                                        {{"KTRSVC_REGISTRY", std::nullopt}});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(home.read("ZKEntinit.ini"), after) << user_id;
        EXPECT_NE(r.out.find("serves the console on port " + std::string(served) + " "), std::string::npos) << r.out;
    }
}

TEST(FirstRun, TheConsoleSaysWhereNothingAnswered) {
    const std::string port = std::to_string(free_option_port());
    const RunResult r = run_program(program("ktrsvc-console"), {"--port", port, "H"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("nothing answered at 127.0.0.1 port " + port + " (TCP): "), std::string::npos) << r.err;
    EXPECT_EQ(occurrences(r.err, "ktrsvc-console:"), 1u) << "one message, not a stack of errors";
}

// Takes about a minute: the module tries a port it could not listen on again once a minute.
TEST(FirstRun, APortTakenIsReportedAndServedWithinAMinuteOfBeingFreed) {
    ProgramFolder home;
    const uint16_t port = free_option_port();
    home.write("ZKEntinit.ini", "TCPPort," + std::to_string(port) + "\r\n");
    auto other = std::make_unique<PortHolder>(port, true);
    ASSERT_TRUE(other->ok());
    const std::string trouble = "Not listening on TCP port " + std::to_string(port) + ": Address in use";
#ifdef _WIN32
    // No terminal to show the status on: its standard error tells the same.
    RunningProgram module(program("ktrsvc"), {}, module_env(home));
    const std::string reported_line = "ktrsvc: " + trouble, ready_line = "ktrsvc: listening on TCP port";
    const auto shown = [&] { return module.error_output(); };
#else
    // Standard output on a terminal, as for a user who runs the module by hand; standard error apart.
    PtyPair terminal;
    ASSERT_TRUE(terminal.ok());
    RunningProgram module("/bin/sh", {"-c", "exec \"$0\" >\"$1\"", program("ktrsvc"), terminal.slave_path()},
                          module_env(home));
    const std::string reported_line = "status: " + trouble, ready_line = "status: Ready";
    std::string seen;
    const auto shown = [&] { return seen += terminal.read_available(100); };
#endif
    std::string text;
    const auto shows = [&](const std::string& line, size_t from, int timeout_ms) {
        eventually([&] { return (text = shown()).find(line, from) != std::string::npos; }, timeout_ms);
        return text.find(line, from);
    };
    const size_t reported = shows(reported_line, 0, 15000);
    ASSERT_NE(reported, std::string::npos) << text;

    other.reset();
    EXPECT_NE(shows(ready_line, reported, 75000), std::string::npos) << text;
    EXPECT_TRUE(TcpPeer().connect(port));
    module.terminate();
    const RunResult r = module.wait(15000);
    EXPECT_EQ(occurrences(r.err, "ktrsvc: " + trouble), 1u) << r.err;
    EXPECT_NE(r.err.find("ktrsvc: listening on TCP port " + std::to_string(port)), std::string::npos) << r.err;
}

} // namespace
} // namespace ktr::testing
