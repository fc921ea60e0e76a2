#include "fakes/run_program.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <utility>

namespace ktr::testing {
namespace {

// A temporary file that is gone once its last descriptor closes, holding the text, read from its start.
int temp_file(const std::string& text = {}) {
    char name[] = "/tmp/ktrsvc-run-XXXXXX";
    const int fd = ::mkostemp(name, O_CLOEXEC);
    if (fd < 0) return -1;
    ::unlink(name);
    if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return -1;
    ::lseek(fd, 0, SEEK_SET);
    return fd;
}

std::string read_all(int fd) {
    std::string out;
    char buf[65536];
    ::lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return out;
}

} // namespace

RunningProgram::RunningProgram(const std::string& path, const std::vector<std::string>& args,
                               const EnvOverrides& env, std::string stdin_text)
    : out_fd_(temp_file()), err_fd_(temp_file()) {
    const int in = temp_file(stdin_text);
    std::vector<char*> argv{const_cast<char*>(path.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (in >= 0 && out_fd_ >= 0 && err_fd_ >= 0) pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(in, 0);
        ::dup2(out_fd_, 1);
        ::dup2(err_fd_, 2);
        for (const auto& [name, value] : env)
            value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
        ::execv(path.c_str(), argv.data());
        (void)!::write(2, "cannot start the program\n", 25);
        ::_exit(127);
    }
    if (in >= 0) ::close(in);
}

RunningProgram::~RunningProgram() {
    terminate(SIGKILL);
    if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    for (const int fd : {out_fd_, err_fd_}) ::close(fd);  // -1 once read: nothing to close
}

RunResult RunningProgram::wait(int timeout_ms) {
    if (pid_ <= 0) return {-1, "", "cannot start the program"};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    int status = 0;
    for (; ::waitpid(pid_, &status, WNOHANG) == 0; std::this_thread::sleep_for(std::chrono::milliseconds(2)))
        if (std::chrono::steady_clock::now() > deadline) ::kill(pid_, SIGKILL);  // the time ran out
    pid_ = -1;
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
    return {code, read_all(std::exchange(out_fd_, -1)), read_all(std::exchange(err_fd_, -1))};
}

bool RunningProgram::running() {
    // Look without reaping: wait() still collects the status.
    siginfo_t info{};
    return pid_ > 0 && ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
}

} // namespace ktr::testing
