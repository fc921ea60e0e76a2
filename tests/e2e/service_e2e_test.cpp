// The built module run as systemd runs a notify-type service, the test its manager: it owns the notification
// socket and sends the stop signal and the queued control codes to the process it started.
#include <gtest/gtest.h>

#ifdef _WIN32
namespace ktr::testing {
namespace {

TEST(ServiceE2E, ControlCodesPauseContinueAndStopAsTheManagerSendsThem) {
    GTEST_SKIP() << "systemd's notify socket and queued signals: the NT service takes its codes from the "
                    "service control manager instead";
}

} // namespace
} // namespace ktr::testing
#else
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "fakes/fake_systemd_bus.h"
#include "module_process.h"

namespace ktr::testing {
namespace {

const std::string kSettingsKey = "HKEY_USERS\\.DEFAULT\\Software\\VB and VBA Program Settings\\Ktrsvc\\Settings";

// The manager's notification socket: every datagram the service sends, in order.
struct NotifySocket {
    explicit NotifySocket(const std::string& path) : fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un a{.sun_family = AF_UNIX, .sun_path = {}};
        std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) ADD_FAILURE() << "bind " << path;
    }
    ~NotifySocket() { ::close(fd); }
    // Reads what arrived; true once a message holds the fragment.
    bool wait_for(const std::string& fragment, int timeout_ms = 10000) {
        return eventually([&] {
            char buf[4096];
            for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0;) messages.emplace_back(buf, n);
            return std::ranges::any_of(messages, [&](auto& m) { return m.find(fragment) != std::string::npos; });
        }, timeout_ms);
    }
    int fd;
    std::vector<std::string> messages;
};

class ServiceE2E : public ModuleTest {
protected:
    NotifySocket manager{home.file("notify")};

    void SetUp() override {
        start({}, false, {{"NOTIFY_SOCKET", home.file("notify")}});
        ASSERT_TRUE(manager.wait_for("READY=1")) << "the service reports ready once it listens";
        ASSERT_TRUE(traced("Main service loop----------"));
    }
    void send(int code) { ASSERT_EQ(::sigqueue(module->pid(), SIGRTMIN, sigval{.sival_int = code}), 0) << code; }
    std::string trace() const { return home.read("DebugFileSvc.txt"); }
    bool traced(const std::string& fragment, size_t from = 0, const std::string& file = "DebugFileSvc.txt") {
        return eventually([&] { return home.read(file).find(fragment, from) != std::string::npos; });
    }
    // A registry value as the registry tool prints it, with a line end.
    std::string setting(const std::string& name, const std::string& key = kSettingsKey) {
        return run_reg(home, {"get", key, name}).out;
    }
    // Sends the code and waits for the service's receipt of it.
    bool acknowledged(int code) {
        send(code);
        return eventually([&] { return setting("OK").starts_with(std::to_string(code) + "-"); });
    }
    // The text of the line traced after the first "Svc Control event" line of the code from `from` on.
    std::string line_after_code(int code, size_t& from) {
        const std::string t = trace();
        const size_t at = t.find("Svc Control event  " + std::to_string(code) + " received\r\n", from);
        if (at == std::string::npos) return "(no event)";
        from = std::min(t.find("\r\n", at) + 2 + 16, t.size());  // past the time stamp
        return t.substr(from, t.find("\r\n", from) - from);
    }
};

TEST_F(ServiceE2E, ControlCodesPauseContinueAndStopAsTheManagerSendsThem) {
    EXPECT_EQ(occurrences(trace(), "Options changed, getting new options"), 1u) << "no \"Changed\" at the first check";
    EXPECT_TRUE(traced("Start Service sent", 0, "DebugFile.txt")) << "the trace moves at the start event";

    // A burst, each code taken in order and none lost; every one acknowledged under "Settings" / "OK".
    struct Row { int code; const char* line; };
    std::vector<Row> rows = {{128, " ---Options Changed"}, {129, " ---Show Options "}, {131, " ---Flush Debug"},
                             {132, " ---Flush logs"}, {133, " ---Do heartbeat"}, {140, " ---Get Status Svc Mod"},
                             {148, " ---Reset ports"}};
    for (const int code : {127, 149, 136, 139, 141, 147, 144}) rows.push_back({code, " <---Unknown code"});
    for (const Row& r : rows) send(r.code);
    ASSERT_TRUE(eventually([&] { return setting("OK").starts_with("144-"); })) << setting("OK");
    size_t from = 0;
    for (const Row& r : rows) EXPECT_EQ(line_after_code(r.code, from), r.line) << r.code;
    EXPECT_EQ(occurrences(trace(), "Options changed, getting new options"), 2u) << "128 reloads at once";
    EXPECT_EQ(setting("Changed", kOptionsKey), "False\n");
    const std::string t = trace();
    const size_t listed = t.find(" ---Show Options ");
    EXPECT_LT(t.find("Name: _TCPPort_", listed), t.find("Svc Control event  131", listed)) << "129 lists the options";
    EXPECT_TRUE(manager.wait_for("STATUS=Options Changed")) << "the manager shows the status label";

    // Beside the running service a "STATUS" call gets its receipt and the label that code 140 stores.
    // scripts/deps.sh installs dbus-daemon; without it this part fails rather than passing unseen.
    FakeSystemdBus bus;
    EXPECT_TRUE(bus.ready()) << bus.error();
    if (bus.ready()) {
        bus.set_unit("ZKEnterprise.service", {{"ActiveState", "active"}, {"MainPID", std::to_string(module->pid())}});
        EnvOverrides env = module_env(home);
        env.merge(bus.env());
        const RunResult call = run_program(program("ktrsvc-svc"), {"call", "STATUS"}, env);
        EXPECT_NE(call.out.find("140-"), std::string::npos) << "the service's receipt: " << call.out << call.err;
        EXPECT_EQ(setting("setstattext"), "Options Changed\n");
    }

    // 130 twice: the trace stops and comes back; 134 while debug is off opens the file, and only the
    // file's own line appears in it.
    ASSERT_TRUE(acknowledged(130));
    EXPECT_TRUE(trace().ends_with("Debug FILE mode is now off.\r\n"));
    const size_t quiet = trace().size();
    for (const int code : {133, 134}) ASSERT_TRUE(acknowledged(code));
    EXPECT_EQ(trace().substr(quiet + 16), "Debug FILE mode is now on.\r\n") << "one line after its time stamp";
    ASSERT_TRUE(acknowledged(130));
    send(133);
    EXPECT_TRUE(traced("Svc Control event  133", quiet)) << "the trace is back";

    // Paused it goes on serving, alone again; continue sets the listener up again.
    send(2);
    EXPECT_TRUE(manager.wait_for("STATUS=Paused"));
    EXPECT_EQ(console({"H"}), "OK-H\n");
    const size_t paused = trace().size();
    send(3);
    EXPECT_TRUE(traced("Service server listening on TCP port " + std::to_string(port), paused)) << "listening again";
    EXPECT_EQ(console({"H"}), "OK-H\n");
    manager.wait_for("", 0);  // takes in what came since
    EXPECT_EQ(manager.messages.back().find("Paused"), std::string::npos) << manager.messages.back();
    EXPECT_EQ(trace().find("Error init server"), std::string::npos);

    // A stop inside the loop's 60-second wait ends the process at once.
    const auto asked = std::chrono::steady_clock::now();
    module->terminate();
    EXPECT_EQ(module->wait(5000).exit_code, 0);
    module.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(1));
    EXPECT_TRUE(manager.wait_for("STOPPING=1", 0));
}

} // namespace
} // namespace ktr::testing
#endif
