// Runs a program as a user would and captures what it prints.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fakes/scoped_env.h"

namespace ktr::testing {

// The exit status of a program ended with no say (and of one that ran too long): 128 + SIGKILL, as a
// POSIX shell shows it.
inline constexpr int kKilledExitCode = 137;

struct RunResult {
    int exit_code = -1;  // the exit status; 128 + signal when a signal ended it
    // What it printed. On Windows the runtime's text mode ends lines with "\r\n": they come back as "\n".
    std::string out, err;
};

// Environment changes for the child: a value sets the variable, nothing removes it.
using EnvOverrides = std::map<std::string, std::optional<std::string>>;

// How a program is asked to end.
enum class Ending {
    // As a service manager or an administrator's kill asks (SIGTERM). On Windows Ctrl+Break to the
    // program's own process group, or, where no console joins the two (Wine without a terminal), a WM_CLOSE
    // to its main thread's message queue.
    terminate,
    // As a closed terminal asks (SIGHUP). Windows sends a console's close to the console's own programs only:
    // there this is the same as terminate.
    hang_up,
    // At once, without a say (SIGKILL, TerminateProcess).
    kill,
};

// A started program: its standard input is read from, and its output goes to, temporary files, so that it
// never blocks on a full pipe; wait() collects it and reads the output.
class RunningProgram : NoCopy {
public:
    // The path may leave out the ".exe" of Windows programs.
    RunningProgram(const std::string& path, const std::vector<std::string>& args, const EnvOverrides& env = {},
                   std::string stdin_text = {});
    ~RunningProgram();
    // Waits at most timeout_ms, then kills the program.
    RunResult wait(int timeout_ms = 30000);
    void terminate(Ending how = Ending::terminate);
    // Whether the program is still running (not yet ended and collected).
    bool running();
    // What it has written to standard error so far (also while it runs).
    std::string error_output() const;
    // The process id, -1 when it did not start.
    int pid() const;

private:
    struct Impl;  // the system's own handles
    std::unique_ptr<Impl> impl_;
};

// Starts the program and waits for it.
inline RunResult run_program(const std::string& path, const std::vector<std::string>& args,
                             const EnvOverrides& env = {}, const std::string& stdin_text = {}, int timeout_ms = 30000) {
    return RunningProgram(path, args, env, stdin_text).wait(timeout_ms);
}

} // namespace ktr::testing
