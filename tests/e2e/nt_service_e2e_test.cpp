// The module as a Windows service under the service control manager, driven by ktrsvc-svc as an
// administrator drives it: installed, started, asked, paused, continued, sent its codes, stopped, removed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "fakes/system_paths.h"
#include "module_process.h"

namespace ktr::testing {
namespace {

#ifdef _WIN32
bool get_env_flag(const char* name) {
    const char* value = std::getenv(name);
    return value && std::string(value) == "1";
}
#endif

TEST(NtServiceE2E, InstalledStartedControlledStoppedAndRemovedThroughTheManager) {
#ifndef _WIN32
    GTEST_SKIP() << "the Windows service control manager; systemd's side is ServiceE2E";
#else
    if (!under_wine())
        GTEST_SKIP() << "creates a service on the machine and writes the module's own keys: Wine only";
    if (!get_env_flag("KTRSVC_NT_SERVICE_TEST"))
        GTEST_SKIP() << "Wine's service manager loses a new service while many programs come and go: "
                        "scripts/windows.sh runs this test alone first, with KTRSVC_NT_SERVICE_TEST=1";
    // The manager starts the service with its own environment and the real registry: the module finds its
    // program folder beside its executable, and the tool reads the receipts where the service writes them.
    TempDir home;
    const uint16_t port = free_option_port();
    ASSERT_NE(port, 0);
    const std::string module = home.file("ktrsvc.exe");
    std::filesystem::copy_file(program("ktrsvc"), module);
    home.write("ZKEntinit.ini", "TCPPort," + std::to_string(port) + "\r\n");
    const EnvOverrides env{{"KTRSVC_HOME", std::nullopt}, {"KTRSVC_REGISTRY_SANDBOX", std::nullopt}};
    run_program(program("ktrsvc-reg"), {"delete", kOptionsKey}, env);  // a first start: ZKEntinit.ini counts
    // A name of its own: other tests remove the module's "ZKEnterprise" service ("removereg") meanwhile.
    const auto svc = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"--service", "KtrsvcE2E"});
        return run_program(program("ktrsvc-svc"), args, env);
    };
    const auto state = [&] { return svc({"status"}).out; };

    ASSERT_EQ(svc({"install", module}).out, "OK\n");
    // Wine's manager can take a moment before a new service can be opened.
    ASSERT_TRUE(eventually([&] { return state() == "Stopped\nclass 2\n"; }, 30000)) << state();
    EXPECT_EQ(svc({"start"}).exit_code, 0);
    ASSERT_TRUE(eventually([&] { return state() == "Running\nclass 0\n"; }, 60000)) << state();
    EXPECT_EQ(tcp_exchange(port, {"H+"}), "OK-H");

    EXPECT_EQ(svc({"pause"}).out, "OK\nclass 1\n");
    EXPECT_TRUE(eventually([&] { return state() == "Paused\nclass 1\n"; }, 10000)) << state();
    EXPECT_EQ(tcp_exchange(port, {"H+"}), "OK-H") << "a paused module goes on serving";
    EXPECT_EQ(svc({"continue"}).out, "OK\nclass 0\n");
    EXPECT_TRUE(eventually([&] { return state() == "Running\nclass 0\n"; }, 10000)) << state();
    // Each code is acknowledged with a receipt, "<code>-<date>", under the module's "Settings".
    const std::string settings = kOptionsKey.substr(0, kOptionsKey.rfind('\\')) + "\\Settings";
    for (int code = 128; code <= 148; ++code) {
        const std::string text = std::to_string(code);
        EXPECT_EQ(svc({"control", text}).out, "OK\n") << code;
        EXPECT_TRUE(eventually([&] {
            return run_program(program("ktrsvc-reg"), {"get", settings, "OK"}, env).out.starts_with(text + "-");
        })) << "no receipt for " << code;
    }

    EXPECT_EQ(svc({"stop"}).exit_code, 0);
    EXPECT_TRUE(eventually([&] { return state() == "Stopped\nclass 2\n"; }, 30000)) << state();
    EXPECT_EQ(svc({"remove"}).out, "OK\n");
    EXPECT_EQ(state(), "Could not open Service\nclass 3\n");
    run_program(program("ktrsvc-reg"), {"delete", kOptionsKey}, env);
#endif
}

} // namespace
} // namespace ktr::testing
