#include "fakes/fake_systemd_bus.h"

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/pending_error.h"
#include "platform/service_manager.h"

namespace ktr::testing {
namespace {

std::string find_in_path(const std::string& name) {
    std::istringstream path(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
    for (std::string dir; std::getline(path, dir, ':');)
        if (::access((dir + "/" + name).c_str(), X_OK) == 0) return dir + "/" + name;
    return {};
}

template <typename Pred>
bool eventually(Pred pred, int timeout_ms = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace

FakeSystemdBus::FakeSystemdBus(bool with_systemd) {
    const std::string daemon = find_in_path("dbus-daemon");
    if (daemon.empty()) {
        error_ = "dbus-daemon is not installed";
        return;
    }
    const std::string socket = dir_.file("bus");
    dir_.write("bus.conf", "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                           "<busconfig><type>session</type><listen>unix:path=" + socket + "</listen>"
                           "<auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
                           "<allow own=\"*\"/></policy></busconfig>\n");
    ::mkdir(unit_dir().c_str(), 0755);
    address_ = "unix:path=" + socket;
    daemon_ = std::make_unique<RunningProgram>(
        daemon, std::vector<std::string>{"--config-file=" + dir_.file("bus.conf"), "--nofork", "--nopidfile"});
    if (!eventually([&] { return ::access(socket.c_str(), F_OK) == 0; })) {
        error_ = "dbus-daemon did not start";
        return;
    }
    bus_env_.emplace("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str());
    unit_env_.emplace("KTRSVC_UNIT_DIR", unit_dir().c_str());
    if (!with_systemd) return;
    systemd_ = std::make_unique<RunningProgram>(KTRSVC_FAKE_SYSTEMD,
                                                std::vector<std::string>{dir_.file("state"), unit_dir()}, env());
    const bool up = eventually([] {
        int32_t err = 0;
        return platform::open_service_manager("", platform::kManagerConnect, err) != nullptr;
    });
    platform::clear_pending_error();
    if (!up) error_ = "the stand-in systemd did not come up";
}

FakeSystemdBus::~FakeSystemdBus() {
    systemd_.reset();
    daemon_.reset();
}

void FakeSystemdBus::set_unit(const std::string& unit, const std::map<std::string, std::string>& props) const {
    std::string text;
    for (const auto& [k, v] : props) text += k + "=" + v + "\n";
    dir_.write("state/units/" + unit, text);
}

std::string FakeSystemdBus::prop(const std::string& unit, const std::string& name) const {
    std::istringstream in(dir_.read("state/units/" + unit));
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(name + "=")) return line.substr(name.size() + 1);
    return {};
}

std::vector<std::string> FakeSystemdBus::calls() const {
    std::vector<std::string> out;
    std::istringstream in(dir_.read("state/calls"));
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::vector<std::string> FakeSystemdBus::actions() const {
    std::vector<std::string> out;
    for (auto& c : calls())
        if (!c.starts_with("LoadUnit ")) out.push_back(c);
    return out;
}

EnvOverrides FakeSystemdBus::env() const {
    return {{"DBUS_SYSTEM_BUS_ADDRESS", address_}, {"KTRSVC_UNIT_DIR", unit_dir()}};
}

SignalRecorder::SignalRecorder(std::function<void(int)> on_signal) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    sigset_t set, old;
    sigemptyset(&set);
    sigaddset(&set, SIGRTMIN);
    // Blocked before the fork, so no signal can arrive before the child waits for it.
    ::sigprocmask(SIG_BLOCK, &set, &old);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::close(fds[0]);
        for (;;) {
            siginfo_t info{};
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
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (read_fd_ >= 0) ::close(read_fd_);
}

std::optional<int> SignalRecorder::next(int timeout_ms) {
    pollfd p{read_fd_, POLLIN, 0};
    int value = 0;
    if (::poll(&p, 1, timeout_ms) != 1 || ::read(read_fd_, &value, sizeof value) != sizeof value) return std::nullopt;
    return value;
}

} // namespace ktr::testing
