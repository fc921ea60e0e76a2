// ktrsvc-svc as an administrator runs it, against no systemd at all and against the stand-in systemd.
#include <gtest/gtest.h>

#include "fakes/fake_systemd_bus.h"
#include "module_process.h"

namespace ktr::testing {
namespace {

TEST(ServiceToolE2E, AnswersThroughTheManagerOrSaysThereIsNone) {
#ifdef _WIN32
    GTEST_SKIP() << "against systemd, or none: Windows always has its service control manager";
#endif
    ProgramFolder home;
    EnvOverrides env = module_env(home);
    env["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=" + home.file("no-bus");
    // What the tool prints and its exit status; "removereg" is the module's own word.
    const auto run = [&](const std::vector<std::string>& args) {
        const RunResult r = run_program(program(args[0] == "removereg" ? "ktrsvc" : "ktrsvc-svc"), args, env);
        return std::pair(r.out, r.exit_code);
    };
    EXPECT_EQ(run({"status"}), std::pair(std::string("Could not open Service Manager\nclass 3\n"), 1));
    EXPECT_EQ(run({"--help"}).second, 0);
    FakeSystemdBus bus;
    if (!bus.ready()) GTEST_SKIP() << bus.error();
    for (const auto& [name, value] : bus.env()) env[name] = value;
    struct Row { std::vector<std::string> args; std::string out; int exit_code; };
    const Row rows[] = {
        {{"install", program("ktrsvc")}, "OK\n", 0},
        {{"start"}, "OK\nclass 0\n", 0},  // pausing and the other codes are the service operations' tests
        {{"control", "1"}, "OK\n", 0},  // stops it
        {{"removereg"}, "", 0},  // which removes the service too
        {{"status"}, "Could not open Service\nclass 3\n", 1},
        {{"remove"}, "Could not open Service \n", 1},
        {{"frobnicate"}, "", 2},
    };
    for (const Row& r : rows) EXPECT_EQ(run(r.args), std::pair(r.out, r.exit_code)) << r.args[0];
}

} // namespace
} // namespace ktr::testing
