#include "fakes/fake_systemd_bus.h"

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

#include "fakes/pump_until.h"
#include "platform/pending_error.h"
#include "platform/service_manager.h"

namespace ktr::testing {

FakeSystemdBus::FakeSystemdBus(bool with_systemd) {
    const std::string daemon = "/usr/bin/dbus-daemon", socket = dir_.file("bus");
    if (::access(daemon.c_str(), X_OK) != 0) { error_ = "dbus-daemon is not installed"; return; }
    dir_.write("bus.conf", "<busconfig><type>session</type><listen>unix:path=" + socket + "</listen>"
                           "<auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\"/>"
                           "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>\n");
    ::mkdir(unit_dir().c_str(), 0755);
    address_ = "unix:path=" + socket;
    daemon_ = std::make_unique<RunningProgram>(
        daemon, std::vector<std::string>{"--config-file=" + dir_.file("bus.conf"), "--nofork", "--nopidfile"});
    const bool listening = eventually([&] { return ::access(socket.c_str(), F_OK) == 0; });
    if (!listening) { error_ = "dbus-daemon did not start"; return; }
    bus_env_.emplace("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str());
    unit_env_.emplace("KTRSVC_UNIT_DIR", unit_dir().c_str());
    if (!with_systemd) return;
    systemd_ = std::make_unique<RunningProgram>(KTRSVC_FAKE_SYSTEMD,
                                                std::vector<std::string>{dir_.file("state"), unit_dir()}, env());
    int32_t err = 0;
    if (!eventually([&] { return platform::open_service_manager("", platform::kManagerConnect, err) != nullptr; }))
        error_ = "the stand-in systemd did not come up";
    platform::clear_pending_error();
}

void FakeSystemdBus::set_unit(const std::string& unit, const std::map<std::string, std::string>& props) const {
    std::string text;
    for (const auto& [k, v] : props) text += k + "=" + v + "\n";
    dir_.write("state/units/" + unit, text);
}

std::vector<std::string> FakeSystemdBus::calls() const {
    std::vector<std::string> out;
    std::istringstream in(dir_.read("state/calls"));
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::vector<std::string> FakeSystemdBus::actions() const {
    std::vector<std::string> out = calls();
    std::erase_if(out, [](const std::string& call) { return call.starts_with("LoadUnit "); });
    return out;
}

SignalRecorder::SignalRecorder(std::function<void(int)> on_signal) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    sigset_t set, old;
    sigemptyset(&set);
    sigaddset(&set, SIGRTMIN);
    // Blocked before the fork, so no signal can arrive before the child waits for it.
    ::sigprocmask(SIG_BLOCK, &set, &old);
    if ((pid_ = ::fork()) == 0) {
        for (siginfo_t info{};; info = {}) {
            if (::sigwaitinfo(&set, &info) < 0) continue;
            const int value = info.si_value.sival_int;
            if (::write(fds[1], &value, sizeof value) != sizeof value) ::_exit(1);
            if (on_signal) on_signal(value);
        }
    }
    ::sigprocmask(SIG_SETMASK, &old, nullptr);
    ::close(fds[1]);
    read_fd_ = fds[0];
}

SignalRecorder::~SignalRecorder() {
    if (pid_ > 0) ::kill(pid_, SIGKILL), ::waitpid(pid_, nullptr, 0);
    if (read_fd_ >= 0) ::close(read_fd_);
}

std::optional<int> SignalRecorder::next(int timeout_ms) {
    pollfd p{read_fd_, POLLIN, 0};
    int value = 0;
    if (::poll(&p, 1, timeout_ms) != 1 || ::read(read_fd_, &value, sizeof value) != sizeof value) return std::nullopt;
    return value;
}

} // namespace ktr::testing
