// Runs a program as a user would and captures what it prints.
#pragma once

#include <signal.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace ktr::testing {

struct RunResult {
    int exit_code = -1;  // the exit status; 128 + signal when killed by a signal (or for running too long)
    std::string out, err;
};

// Environment changes for the child: a value sets the variable, nothing removes it.
using EnvOverrides = std::map<std::string, std::optional<std::string>>;

// A started program: its standard input is read from, and its output goes to, unnamed temporary files, so
// that it never blocks on a full pipe; wait() reaps it and reads the output.
class RunningProgram {
public:
    RunningProgram(const std::string& path, const std::vector<std::string>& args, const EnvOverrides& env = {},
                   std::string stdin_text = {});
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;
    // Waits at most timeout_ms, then kills the program.
    RunResult wait(int timeout_ms = 30000);
    // Asks the program to end, as a service manager or an administrator's kill would.
    void terminate(int signal = SIGTERM) { if (pid_ > 0) ::kill(pid_, signal); }
    // Whether the program is still running (not yet ended and reaped).
    bool running();
    int pid() const { return pid_; }

private:
    int pid_ = -1, out_fd_ = -1, err_fd_ = -1;
};

// Starts the program and waits for it.
inline RunResult run_program(const std::string& path, const std::vector<std::string>& args,
                             const EnvOverrides& env = {}, const std::string& stdin_text = {}, int timeout_ms = 30000) {
    return RunningProgram(path, args, env, stdin_text).wait(timeout_ms);
}

} // namespace ktr::testing
