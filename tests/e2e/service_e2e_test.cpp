// The built module run as systemd runs a notify-type service, with the test as its manager: the test
// owns the notification socket, reads "READY=1" and the status texts, and sends the stop signal and the
// queued control codes to the process it started.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "fakes/fake_systemd_bus.h"
#include "module_process.h"

namespace ktr::testing {
namespace {

const std::string kSettingsKey = "HKEY_USERS\\.DEFAULT\\Software\\VB and VBA Program Settings\\Ktrsvc\\Settings";

bool eventually(const std::function<bool()>& done, int timeout_ms = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// The manager's notification socket: every datagram the service sends, in order.
class NotifySocket {
public:
    explicit NotifySocket(const std::string& path) : path_(path) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) ADD_FAILURE() << "bind " << path;
    }
    ~NotifySocket() { ::close(fd_); }
    // Reads what arrived; true once a message holds the fragment.
    bool wait_for(const std::string& fragment, int timeout_ms = 10000) {
        return eventually([&] {
            char buf[4096];
            for (ssize_t n; (n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT)) > 0;) messages.emplace_back(buf, n);
            for (const auto& m : messages)
                if (m.find(fragment) != std::string::npos) return true;
            return false;
        }, timeout_ms);
    }
    std::vector<std::string> messages;

private:
    std::string path_;
    int fd_ = -1;
};

class ServiceE2E : public ::testing::Test {
protected:
    TempDir home;
    uint16_t port = free_option_port();
    NotifySocket manager{home.file("notify")};
    std::unique_ptr<RunningProgram> module;

    void SetUp() override {
        ASSERT_NE(port, 0);
        home.write("ZKEntinit.ini", "TCPPort," + std::to_string(port) + "\r\n");
        home.write("debug.txt", "");
        EnvOverrides env = module_env(home);
        env["NOTIFY_SOCKET"] = home.file("notify");
        module = std::make_unique<RunningProgram>(kBinDir + "/ktrsvc", std::vector<std::string>{"debug"}, env);
        ASSERT_TRUE(manager.wait_for("READY=1")) << "the service reports ready once it listens";
        ASSERT_TRUE(eventually([&] { return trace().find("Main service loop----------") != std::string::npos; }));
    }
    void TearDown() override {
        if (module && module->running()) module->wait(0);
    }
    void send(int code) {
        sigval value{};
        value.sival_int = code;
        ASSERT_EQ(::sigqueue(module->pid(), SIGRTMIN, value), 0);
    }
    std::string trace() const { return home.read("DebugFileSvc.txt"); }
    std::string setting(const std::string& name, const std::string& key = kSettingsKey) {
        std::string out = run_reg(home, {"get", key, name}).out;
        if (!out.empty()) out.pop_back();
        return out;
    }
    // The text of the line traced after the first "Svc Control event" line of the code from `from` on.
    std::string line_after_code(int code, size_t& from) {
        const std::string t = trace();
        const size_t at = t.find("Svc Control event  " + std::to_string(code) + " received\r\n", from);
        if (at == std::string::npos) return "(no event)";
        const size_t start = t.find("\r\n", at) + 2 + 16;  // past the time stamp
        const size_t end = t.find("\r\n", start);
        from = start;
        return end == std::string::npos || start > t.size() ? "" : t.substr(start, end - start);
    }
    size_t count(const std::string& fragment) const {
        const std::string t = trace();
        size_t n = 0;
        for (size_t at = t.find(fragment); at != std::string::npos; at = t.find(fragment, at + 1)) ++n;
        return n;
    }
    std::string heartbeat() {
        return run_program(kBinDir + "/ktrsvc-console", {"--port", std::to_string(port), "H"}, module_env(home)).out;
    }
};

TEST_F(ServiceE2E, ControlCodesPauseContinueAndStopAsTheManagerSendsThem) {
    EXPECT_NE(trace().find("-------------Starting ZK Enterprise Service Module-----------"), std::string::npos);
    EXPECT_EQ(count("Options changed, getting new options"), 1u) << "no \"Changed\" at the first check: reloaded";
    EXPECT_TRUE(home.read("DebugFile.txt").find("Start Service sent") != std::string::npos)
        << "the trace moves to the service's file at the start event";

    // A burst, each code taken in order and none lost; every one acknowledged under "Settings" / "OK".
    struct Row {
        int code;
        const char* line;
    };
    const std::vector<Row> rows = {
        {128, " ---Options Changed"}, {129, " ---Show Options "}, {131, " ---Flush Debug"},
        {132, " ---Flush logs"},      {133, " ---Do heartbeat"},  {140, " ---Get Status Svc Mod"},
        {148, " ---Reset ports"},     {127, " <---Unknown code"}, {149, " <---Unknown code"},
        {136, " <---Unknown code"},   {139, " <---Unknown code"}, {141, " <---Unknown code"},
        {147, " <---Unknown code"},   {144, " <---Unknown code"},
    };
    for (const Row& r : rows) send(r.code);
    ASSERT_TRUE(eventually([&] { return setting("OK").starts_with("144-"); })) << setting("OK");
    size_t from = 0;
    for (const Row& r : rows) EXPECT_EQ(line_after_code(r.code, from), r.line) << r.code;
    EXPECT_EQ(count("Options changed, getting new options"), 2u) << "128 reloads at once";
    EXPECT_EQ(setting("Changed", kOptionsKey), "False");
    const std::string t = trace();
    const size_t listed = t.find(" ---Show Options ");
    EXPECT_LT(t.find("Name: _TCPPort_", listed), t.find("Svc Control event  131", listed)) << "129 lists the options";
    EXPECT_EQ(setting("setstattext"), "Options Changed") << "140 stores the status label";
    EXPECT_TRUE(manager.wait_for("STATUS=Options Changed")) << "the manager shows the same status";

    // 130 twice: the trace stops and comes back; 134 while debug is off opens the file, and only the
    // file's own line appears in it.
    send(130);
    ASSERT_TRUE(eventually([&] { return setting("OK").starts_with("130-"); }));
    EXPECT_TRUE(trace().ends_with("Debug FILE mode is now off.\r\n"));
    const size_t quiet = trace().size();
    for (const int code : {133, 134}) {
        send(code);
        ASSERT_TRUE(eventually([&] { return setting("OK").starts_with(std::to_string(code) + "-"); }));
    }
    EXPECT_EQ(trace().substr(quiet).find("Debug FILE mode is now on."), 16u) << trace().substr(quiet);
    EXPECT_EQ(count("Debug FILE mode is now on."), count("Debug FILE mode is now on.\r\n")) << "one line, nothing else";
    EXPECT_EQ(trace().size(), quiet + 16 + 28);
    send(130);
    send(133);
    ASSERT_TRUE(eventually([&] { return trace().find("Svc Control event  133", quiet) != std::string::npos; }));
    EXPECT_NE(trace().find(" ---Toggle debug (currently True)"), std::string::npos);

    // Paused it goes on serving; continue sets the listener up again.
    send(2);
    EXPECT_TRUE(manager.wait_for("STATUS=Paused"));
    EXPECT_EQ(heartbeat(), "OK-H\n");
    const std::string listening = "Service server listening on TCP port " + std::to_string(port);
    const size_t listens = count(listening);
    send(3);
    EXPECT_TRUE(eventually([&] { return count(listening) > listens; })) << "the start timer ticks again";
    EXPECT_NE(trace().find("Got Continue Service Signal"), std::string::npos);
    EXPECT_EQ(heartbeat(), "OK-H\n");
    EXPECT_TRUE(manager.wait_for("STATUS=Options Changed", 0));
    EXPECT_EQ(manager.messages.back().find("Paused"), std::string::npos) << manager.messages.back();
    EXPECT_EQ(trace().find("Error init server"), std::string::npos);

    // Stop inside the loop's 60-second wait ends the process at once.
    const auto asked = std::chrono::steady_clock::now();
    module->terminate();
    const RunResult r = module->wait(5000);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(1));
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(trace().find("Got StopService Signal---Stopping Service Module"), std::string::npos);
    EXPECT_TRUE(manager.wait_for("STOPPING=1", 0));
}

TEST_F(ServiceE2E, ADesktopInstanceBesideTheRunningServiceDoesNotListenAndReadsItsStatus) {
    FakeSystemdBus bus;
    if (!bus.ready()) GTEST_SKIP() << bus.error();
    bus.set_unit("ZKEnterprise.service", {{"LoadState", "loaded"}, {"ActiveState", "active"},
                                          {"MainPID", std::to_string(module->pid())}, {"StatusText", "Ready"}});
    EnvOverrides env = bus.env();
    for (auto& [k, v] : module_env(home)) env[k] = v;
    const RunResult call = run_program(kBinDir + "/ktrsvc-svc", {"call", "STATUS"}, env);
    EXPECT_EQ(call.exit_code, 0) << call.out << call.err;
    EXPECT_NE(call.out.find("140-"), std::string::npos) << "the service's receipt: " << call.out;
    EXPECT_EQ(setting("setstattext"), "Ready");

    RunningProgram desktop(kBinDir + "/ktrsvc", {"debug"}, env);
    EXPECT_TRUE(eventually([&] { return home.read("DebugFile.txt").find("Not starting listening") != std::string::npos; }));
    desktop.terminate();
    EXPECT_EQ(desktop.wait(5000).exit_code, 0);
    EXPECT_EQ(heartbeat(), "OK-H\n") << "the service alone answers";
    module->terminate();
    EXPECT_EQ(module->wait(5000).exit_code, 0);
}

TEST(ServiceRemovalE2E, RemoveregAlsoRemovesTheService) {
    FakeSystemdBus bus;
    if (!bus.ready()) GTEST_SKIP() << bus.error();
    TempDir home;
    EnvOverrides env = bus.env();
    for (auto& [k, v] : module_env(home)) env[k] = v;
    ASSERT_EQ(run_program(kBinDir + "/ktrsvc-svc", {"install", kBinDir + "/ktrsvc"}, env).out, "OK\n");
    EXPECT_EQ(run_program(kBinDir + "/ktrsvc", {"removereg"}, env).exit_code, 0);
    EXPECT_EQ(run_program(kBinDir + "/ktrsvc-svc", {"status"}, env).out, "Could not open Service\nclass 3\n");
}

} // namespace
} // namespace ktr::testing
