// ktrsvc-svc as an administrator runs it, against the stand-in systemd and against no systemd at all.
#include <gtest/gtest.h>

#include "fakes/fake_systemd_bus.h"
#include "module_process.h"

namespace ktr::testing {
namespace {

RunResult svc(const std::vector<std::string>& args, EnvOverrides env) {
    return run_program(kBinDir + "/ktrsvc-svc", args, env);
}

TEST(ServiceToolE2E, AnswersThroughTheManager) {
    FakeSystemdBus bus;
    if (!bus.ready()) GTEST_SKIP() << bus.error();
    struct Row {
        std::vector<std::string> args;
        std::string out;
        int exit_code;
    };
    const Row rows[] = {
        {{"status"}, "Could not open Service\nclass 3\n", 1},
        {{"install", kBinDir + "/ktrsvc"}, "OK\n", 0},
        {{"install", "/nowhere/ktrsvc"}, "Could not create Service at path \n", 1},  // no such program
        {{"status"}, "Stopped\nclass 2\n", 0},
        {{"start"}, "OK\nclass 0\n", 0},
        {{"status"}, "Running\nclass 0\n", 0},
        {{"pause"}, "Failed to Pause\nclass 3\n", 1},  // the stand-in runs no process to signal
        {{"control", "100"}, "Failed\n", 1},
        {{"control", "1"}, "OK\n", 0},
        {{"remove"}, "OK\n", 0},
        {{"remove"}, "Could not open Service \n", 1},
        {{"frobnicate"}, "", 2},
    };
    for (const Row& r : rows) {
        const RunResult result = svc(r.args, bus.env());
        EXPECT_EQ(result.out, r.out) << r.args[0] << result.err;
        EXPECT_EQ(result.exit_code, r.exit_code) << r.args[0];
    }
}

TEST(ServiceToolE2E, WithoutSystemdTheManagerCannotBeOpened) {
    TempDir dir;
    const RunResult r = svc({"status"}, {{"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + dir.file("no-bus")}});
    EXPECT_EQ(r.out, "Could not open Service Manager\nclass 3\n");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(svc({"--help"}, {}).exit_code, 0);
}

} // namespace
} // namespace ktr::testing
