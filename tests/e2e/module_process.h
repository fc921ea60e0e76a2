// The built module run in the foreground in a temporary program folder, on a port set through the initial
// option file; stopped as an administrator would, with SIGTERM.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fakes/loopback_peer.h"
#include "fakes/run_program.h"
#include "fakes/temp_dir.h"

namespace ktr::testing {

inline const std::string kBinDir = KTRSVC_BIN_DIR;
inline const std::string kOptionsKey =
    "HKEY_USERS\\.DEFAULT\\Software\\VB and VBA Program Settings\\Ktrsvc\\Options";

inline EnvOverrides module_env(const TempDir& home) {
    return {{"KTRSVC_HOME", home.path()},
            {"KTRSVC_REGISTRY", std::nullopt},
            {"KTRSVC_SIMULATE", "clock,power"},
            {"KTRSVC_MODULE_TYPE", std::nullopt}};
}

// The registry tool on the hive of the program folder.
inline RunResult run_reg(const TempDir& home, const std::vector<std::string>& args, const std::string& input = {}) {
    return run_program(kBinDir + "/ktrsvc-reg", args, module_env(home), input);
}

inline size_t occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// A free port the module's 16-bit port option can hold (below 32768, where the kernel hands out no
// ephemeral ports of its own).
inline uint16_t free_option_port() {
    static uint32_t seed = static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 200; ++attempt) {
        seed = seed * 1103515245u + 12345u;
        const auto port = static_cast<uint16_t>(20000 + (seed >> 8) % 12000);
        PortHolder tcp(port, true);
        PortHolder udp(port, false);
        if (tcp.ok() && udp.ok()) return port;
    }
    return 0;
}

class ModuleProcess {
public:
    ModuleProcess(const TempDir& home, const std::vector<std::string>& words = {}, EnvOverrides env = {}) {
        EnvOverrides all = module_env(home);
        for (auto& [k, v] : env) all[k] = v;
        program_ = std::make_unique<RunningProgram>(kBinDir + "/ktrsvc", words, all);
    }
    // Waits until the module accepts TCP connections on the port (false when it ended or the time ran out).
    bool wait_tcp(uint16_t port, int timeout_ms = 15000) {
        return poll([port] { return TcpPeer().connect(port); }, timeout_ms);
    }
    // Waits until the module answers a heartbeat datagram on the port.
    bool wait_udp(uint16_t port, int timeout_ms = 15000) {
        return poll([port] {
            UdpPeer probe;
            std::vector<uint8_t> reply;
            return probe.send_to(port, {'H', '+'}) && probe.receive(reply, 200);
        }, timeout_ms);
    }
    bool running() { return program_->running(); }
    // SIGTERM, then the exit status and output.
    RunResult stop(int timeout_ms = 15000) {
        program_->terminate();
        return program_->wait(timeout_ms);
    }

private:
    template <class Probe> bool poll(Probe probe, int timeout_ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (std::chrono::steady_clock::now() < end) {
            if (probe()) return true;
            if (!program_->running()) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    std::unique_ptr<RunningProgram> program_;
};

// A test that runs the module, tracing, in a program folder of its own on a free port.
class ModuleTest : public ::testing::Test {
protected:
    // The extra options are read at the first start only; over UDP when it serves the console there.
    void start(const std::string& options = {}, bool udp = false, EnvOverrides env = {}) {
        ASSERT_NE(port, 0);
        home.write("ZKEntinit.ini", "TCPPort," + std::to_string(port) + "\r\n" + options);
        home.write("debug.txt", "");
        module = std::make_unique<ModuleProcess>(home, std::vector<std::string>{"debug"}, std::move(env));
        ASSERT_TRUE(udp ? module->wait_udp(port) : module->wait_tcp(port));
    }
    void stop() {
        const RunResult r = module->stop();
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_NE(home.read("DebugFile.txt").find("Enterprise Service Module UNLOADING"), std::string::npos);
        module.reset();
    }
    void TearDown() override { if (module) stop(); }
    // The console tool's output; it is expected to end with the exit status.
    std::string console(std::vector<std::string> args, int exit_code = 0) {
        args.insert(args.begin(), {"--port", std::to_string(port)});
        const RunResult r = run_program(kBinDir + "/ktrsvc-console", args, module_env(home));
        EXPECT_EQ(r.exit_code, exit_code) << r.err;
        return r.out;
    }

    TempDir home;
    uint16_t port = free_option_port();
    std::unique_ptr<ModuleProcess> module;
};

} // namespace ktr::testing
