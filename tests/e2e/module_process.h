// The built module run in the foreground in a temporary program folder, on a port set through the initial
// option file; stopped as an administrator would (SIGTERM; on Windows Ctrl+Break or a WM_CLOSE).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fakes/loopback_peer.h"
#include "fakes/private_registry.h"
#include "fakes/pump_until.h"
#include "fakes/run_program.h"
#include "fakes/system_paths.h"
#include "fakes/temp_dir.h"
#include "fakes/trace_capture.h"

namespace ktr::testing {

#ifdef _WIN32
// The build folder, where the programs are, holds the folder of the tests; Wine sees it under its own
// drive letter.
inline const std::string kBinDir = std::filesystem::path(this_program_folder()).parent_path().string();
inline constexpr const char* kExeSuffix = ".exe";
#else
inline const std::string kBinDir = KTRSVC_BIN_DIR;
inline constexpr const char* kExeSuffix = "";
#endif
inline const std::string kOptionsKey =
    "HKEY_USERS\\.DEFAULT\\Software\\VB and VBA Program Settings\\Ktrsvc\\Options";

// A built program by its name ("ktrsvc", "ktrsvc-reg").
inline std::string program(const std::string& name) { return kBinDir + kPathSeparator + name + kExeSuffix; }

// A temporary program folder. On Windows the registry is the system's: the programs run on the folder get
// a private tree of it, which goes with the folder, and never touch a real module's keys.
struct ProgramFolder : TempDir {
    PrivateRegistry registry{std::filesystem::path(path()).filename().string()};
};

inline EnvOverrides module_env(const ProgramFolder& home) {
    EnvOverrides env{{"KTRSVC_HOME", home.path()}, {"KTRSVC_REGISTRY", std::nullopt},
                     {"KTRSVC_SIMULATE", "clock,power"}, {"KTRSVC_MODULE_TYPE", std::nullopt}};
#ifdef _WIN32
    env["KTRSVC_REGISTRY_SANDBOX"] = "HKEY_CURRENT_USER\\" + home.registry.key();
#endif
    return env;
}

// The registry tool on the hive of the program folder.
inline RunResult run_reg(const ProgramFolder& home, const std::vector<std::string>& args, const std::string& input = {}) {
    return run_program(program("ktrsvc-reg"), args, module_env(home), input);
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

// The reply to a request sent in pieces over one connection, a moment apart.
inline std::string tcp_exchange(uint16_t port, const std::vector<std::string>& pieces, int reply_ms = 3000) {
    TcpPeer peer;
    if (!peer.connect(port)) return "(no connection)";
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(60));
        peer.send(pieces[i]);
    }
    return peer.receive(reply_ms);
}

// An "OK-T yyyy-mm-dd h:nn:ss.mmm" reply minus this machine's clock, in seconds (huge when it is not one).
inline double offset_of(const std::string& reply) {
    std::tm tm{};
    int ms = 0;
    if (std::sscanf(reply.c_str(), "OK-T %d-%d-%d %d:%d:%d.%d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour,
                    &tm.tm_min, &tm.tm_sec, &ms) != 7)
        return 1e12;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
#ifdef _WIN32
    const std::time_t moment = _mkgmtime(&tm);
#else
    const std::time_t moment = timegm(&tm);
#endif
    return static_cast<double>(moment - std::time(nullptr)) + ms / 1000.0;
}

// A test that runs the module, tracing, in a program folder of its own on a free port.
class ModuleTest : public ::testing::Test {
protected:
    // The extra options are read at the first start only; over UDP when it serves the console there.
    void start(const std::string& options = {}, bool udp = false, EnvOverrides env = {}) {
        ASSERT_NE(port, 0);
        home.write("ZKEntinit.ini", "TCPPort," + std::to_string(port) + "\r\n" + options);
        home.write("debug.txt", "");
        EnvOverrides all = module_env(home);
        for (auto& [k, v] : env) all[k] = v;
        module = std::make_unique<RunningProgram>(program("ktrsvc"), std::vector<std::string>{"debug"}, all);
        // Ready once it takes TCP connections, or answers a heartbeat datagram, on the port.
        const auto answers = [&] {
            UdpPeer probe;
            std::vector<uint8_t> reply;
            return udp ? probe.send_to(port, {'H', '+'}) && probe.receive(reply, 200) : TcpPeer().connect(port);
        };
        ASSERT_TRUE(eventually([&] { return answers() || !module->running(); }, 15000) && module->running());
    }
    // Stops it as an administrator (or a closed terminal) would; it unloads in order.
    RunResult stop(Ending how = Ending::terminate) {
        module->terminate(how);
        const RunResult r = module->wait(15000);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_NE(home.read("DebugFile.txt").find("Enterprise Service Module UNLOADING"), std::string::npos);
        module.reset();
        return r;
    }
    void TearDown() override { if (module) stop(); }
    // The console tool's output; it is expected to end with the exit status.
    std::string console(std::vector<std::string> args, int exit_code = 0) {
        args.insert(args.begin(), {"--port", std::to_string(port)});
        const RunResult r = run_program(program("ktrsvc-console"), args, module_env(home));
        EXPECT_EQ(r.exit_code, exit_code) << r.err;
        return r.out;
    }

    ProgramFolder home;
    uint16_t port = free_option_port();
    std::unique_ptr<RunningProgram> module;
};

} // namespace ktr::testing
