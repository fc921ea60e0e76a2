// Runs a program as a user would and captures what it prints.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fakes/scoped_env.h"

namespace ktr::testing {

struct RunResult {
    int exit_code = -1;  // the exit status; 128 + signal when a signal ended it
    // What it printed. On Windows the runtime's text mode ends lines with "\r\n": they come back as "\n".
    std::string out, err;
};

// Environment changes for the child: a value sets the variable, nothing removes it.
using EnvOverrides = std::map<std::string, std::optional<std::string>>;

// How a program is asked to end: as a service manager or an administrator asks (SIGTERM; on Windows
// Ctrl+Break, or a WM_CLOSE where no console joins the two), as a closed terminal asks (SIGHUP; the same as
// terminate on Windows, which sends a console's close to its own programs only), or at once without a say.
enum class Ending { terminate, hang_up, kill };

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
    bool running();
    // The process id, -1 when it did not start.
    int pid() const;

private:
    struct Impl;  // the system's own handles
    std::unique_ptr<Impl> impl_;
};

inline RunResult run_program(const std::string& path, const std::vector<std::string>& args,
                             const EnvOverrides& env = {}, const std::string& stdin_text = {}, int timeout_ms = 30000) {
    return RunningProgram(path, args, env, stdin_text).wait(timeout_ms);
}

} // namespace ktr::testing
