// A private D-Bus bus with the stand-in systemd on it, made this process's system bus (and the unit folder a
// temporary one) for the life of the object; calls() lists what the manager was asked, in order.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fakes/run_program.h"
#include "fakes/scoped_env.h"
#include "fakes/temp_dir.h"

namespace ktr::testing {

class FakeSystemdBus {
public:
    // Without systemd: the bus alone, as on a machine whose bus has no service manager on it.
    explicit FakeSystemdBus(bool with_systemd = true);
    // False when dbus-daemon is missing or the stand-in did not come up (the reason in error()).
    bool ready() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    // Makes the unit known with these properties (ActiveState, LoadState, StatusText, MainPID).
    void set_unit(const std::string& unit, const std::map<std::string, std::string>& props) const;
    std::vector<std::string> calls() const;
    // Calls other than the LoadUnit lookups that every open makes.
    std::vector<std::string> actions() const;
    std::string unit_dir() const { return dir_.path() + "/units"; }
    // The environment for a child program that should reach this bus and unit folder.
    EnvOverrides env() const { return {{"DBUS_SYSTEM_BUS_ADDRESS", address_}, {"KTRSVC_UNIT_DIR", unit_dir()}}; }

private:
    TempDir dir_;
    std::string address_, error_;
    std::unique_ptr<RunningProgram> daemon_, systemd_;  // the stand-in ends before its bus
    std::optional<ScopedEnv> bus_env_, unit_env_;
};

// A child process that records the values of the queued SIGRTMIN signals it receives.
class SignalRecorder : NoCopy {
public:
    // on_signal, when given, runs in the child after each value is recorded (e.g. to write a receipt).
    explicit SignalRecorder(std::function<void(int)> on_signal = {});
    ~SignalRecorder();
    int pid() const { return pid_; }
    // The next value received, or nothing within the timeout.
    std::optional<int> next(int timeout_ms = 2000);

private:
    int pid_ = -1;
    int read_fd_ = -1;
};

} // namespace ktr::testing
