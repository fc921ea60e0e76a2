#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <utility>

#include "fakes/run_program.h"

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

// The whole file, read without moving the offset the child writes at.
std::string read_all(int fd) {
    std::string out;
    char buf[65536];
    for (ssize_t n; fd >= 0 && (n = ::pread(fd, buf, sizeof buf, static_cast<off_t>(out.size()))) > 0;)
        out.append(buf, static_cast<size_t>(n));
    return out;
}

} // namespace

struct RunningProgram::Impl {
    int pid = -1, out_fd = -1, err_fd = -1;
};

RunningProgram::RunningProgram(const std::string& path, const std::vector<std::string>& args,
                               const EnvOverrides& env, std::string stdin_text)
    : impl_(std::make_unique<Impl>()) {
    Impl& p = *impl_;
    p.out_fd = temp_file();
    p.err_fd = temp_file();
    const int in = temp_file(stdin_text);
    std::vector<char*> argv{const_cast<char*>(path.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (in >= 0 && p.out_fd >= 0 && p.err_fd >= 0) p.pid = ::fork();
    if (p.pid == 0) {
        ::dup2(in, 0);
        ::dup2(p.out_fd, 1);
        ::dup2(p.err_fd, 2);
        for (const auto& [name, value] : env)
            value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
        ::execv(path.c_str(), argv.data());
        (void)!::write(2, "cannot start the program\n", 25);
        ::_exit(127);
    }
    if (in >= 0) ::close(in);
}

RunningProgram::~RunningProgram() {
    terminate(Ending::kill);
    if (impl_->pid > 0) ::waitpid(impl_->pid, nullptr, 0);
    for (const int fd : {impl_->out_fd, impl_->err_fd}) ::close(fd);  // -1 once read: nothing to close
}

void RunningProgram::terminate(Ending how) {
    const int signal = how == Ending::terminate ? SIGTERM : how == Ending::hang_up ? SIGHUP : SIGKILL;
    if (impl_->pid > 0) ::kill(impl_->pid, signal);
}

RunResult RunningProgram::wait(int timeout_ms) {
    Impl& p = *impl_;
    if (p.pid <= 0) return {-1, "", "cannot start the program"};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    int status = 0;
    for (; ::waitpid(p.pid, &status, WNOHANG) == 0; std::this_thread::sleep_for(std::chrono::milliseconds(2)))
        if (std::chrono::steady_clock::now() > deadline) ::kill(p.pid, SIGKILL);  // the time ran out
    p.pid = -1;
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
    RunResult r{code, read_all(p.out_fd), read_all(p.err_fd)};
    for (int* fd : {&p.out_fd, &p.err_fd}) ::close(std::exchange(*fd, -1));
    return r;
}

bool RunningProgram::running() {
    // Look without collecting: wait() still takes the status.
    siginfo_t info{};
    return impl_->pid > 0 &&
           ::waitid(P_PID, static_cast<id_t>(impl_->pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
}

int RunningProgram::pid() const { return impl_->pid; }

} // namespace ktr::testing
