// A newcomer's first run: the run script's program folder, the console tool when nothing listens. A port
// another program holds is the main window's and the listeners' tests.
#include <gtest/gtest.h>

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

} // namespace
} // namespace ktr::testing
