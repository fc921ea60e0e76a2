#include "fakes/run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace ktr::testing {
namespace {

void close_fd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

} // namespace

RunningProgram::RunningProgram(const std::string& path, const std::vector<std::string>& args,
                               const EnvOverrides& env, std::string stdin_text)
    : stdin_text_(std::move(stdin_text)) {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        start_error_ = std::strerror(errno);
        return;
    }
    std::vector<std::string> argv_text{path};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        for (const auto& [name, value] : env) {
            if (value) ::setenv(name.c_str(), value->c_str(), 1);
            else ::unsetenv(name.c_str());
        }
        ::execv(path.c_str(), argv.data());
        const char* msg = "cannot start the program\n";
        (void)!::write(2, msg, std::strlen(msg));
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    in_fd_ = in[1];
    out_fd_ = out[0];
    err_fd_ = err[0];
    if (pid_ < 0) {
        start_error_ = std::strerror(errno);
        close_fd(in_fd_);
        close_fd(out_fd_);
        close_fd(err_fd_);
    }
}

RunningProgram::~RunningProgram() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    close_fd(in_fd_);
    close_fd(out_fd_);
    close_fd(err_fd_);
}

RunResult RunningProgram::wait(int timeout_ms) {
    RunResult result;
    if (pid_ <= 0) {
        result.err = "cannot start: " + start_error_;
        return result;
    }
    ::signal(SIGPIPE, SIG_IGN);
    size_t written = 0;
    if (stdin_text_.empty()) close_fd(in_fd_);
    else ::fcntl(in_fd_, F_SETFL, O_NONBLOCK);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (out_fd_ >= 0 || err_fd_ >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timed_out = true;
            ::kill(pid_, SIGKILL);
            break;
        }
        pollfd fds[3] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}, {in_fd_, POLLOUT, 0}};
        if (::poll(fds, 3, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
        char buf[65536];
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) (i == 0 ? result.out : result.err).append(buf, static_cast<size_t>(n));
            else if (n == 0 || errno != EINTR) close_fd(i == 0 ? out_fd_ : err_fd_);
        }
        if (in_fd_ >= 0 && fds[2].revents != 0) {
            const ssize_t n = ::write(in_fd_, stdin_text_.data() + written, stdin_text_.size() - written);
            if (n > 0) written += static_cast<size_t>(n);
            if (n < 0 && errno != EAGAIN && errno != EINTR) close_fd(in_fd_);
            if (written == stdin_text_.size()) close_fd(in_fd_);
        }
    }
    int status = 0;
    // A program that closed its output may still run: it gets the rest of the time, then is killed.
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            result.timed_out = true;
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        ::usleep(2000);
    }
    pid_ = -1;
    if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
    else if (WIFSIGNALED(status)) result.exit_code = 128 + WTERMSIG(status);
    close_fd(in_fd_);
    close_fd(out_fd_);
    close_fd(err_fd_);
    return result;
}

RunResult run_program(const std::string& path, const std::vector<std::string>& args, const EnvOverrides& env,
                      const std::string& stdin_text, int timeout_ms) {
    RunningProgram program(path, args, env, stdin_text);
    return program.wait(timeout_ms);
}

} // namespace ktr::testing
