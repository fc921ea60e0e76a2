#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <set>

#include "platform/pending_error.h"
#include "platform/posix/posix_support.h"
#include "platform/process.h"

extern char** environ;

namespace ktr::platform {
namespace {

// Programs started without waiting; reaped when they end.
std::set<pid_t>& started() {
    static std::set<pid_t> pids;
    return pids;
}

int64_t monotonic_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Spawns words[0] with stdin from /dev/null and, when out_fd >= 0, stdout to out_fd. 0 or an errno.
int spawn(const std::vector<std::string>& words, int out_fd, bool own_session, pid_t& pid) {
    if (words.empty() || words[0].empty()) return ENOENT;
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (const auto& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (out_fd >= 0) posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
    // The child starts with default signal handling and nothing blocked, whatever the module changed.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGCHLD);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGHUP);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#ifdef POSIX_SPAWN_SETSID
    // A started program outlives the module's own session and signals.
    if (own_session) flags |= POSIX_SPAWN_SETSID;
#else
    (void)own_session;
#endif
    posix_spawnattr_setflags(&attr, flags);
    const int rc = posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return rc;
}

// Waits for one child until the deadline; its exit status or nothing.
std::optional<int> wait_until(pid_t pid, int64_t deadline) {
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            if (WIFEXITED(status)) return WEXITSTATUS(status);
            return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        }
        if (r < 0 && errno != EINTR) {
            set_pending_error_from_errno(errno);
            return std::nullopt;
        }
        if (monotonic_ms() >= deadline) {
            started().insert(pid);  // left running: reaped later
            set_pending_error(ETIMEDOUT, "The program did not end in time");
            return std::nullopt;
        }
        const timespec pause{0, 5 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
}

} // namespace

bool start_program(std::string_view command_line, int /*window_state*/) {
    reap_started_programs();
    const auto words = program_words(command_line, EINVAL, ENOENT);
    if (!words) return false;
    pid_t pid = 0;
    const int rc = spawn(*words, -1, true, pid);
    if (rc != 0) {
        set_pending_error_from_errno(rc);
        return false;
    }
    started().insert(pid);
    return true;
}

int reap_started_programs() {
    auto& pids = started();
    for (auto it = pids.begin(); it != pids.end();) {
        int status = 0;
        const pid_t r = waitpid(*it, &status, WNOHANG);
        // Ended (r == pid) or no longer our child (ECHILD, e.g. SIGCHLD ignored): forget it.
        if (r == *it || (r < 0 && errno == ECHILD)) {
            it = pids.erase(it);
        } else {
            ++it;
        }
    }
    return static_cast<int>(pids.size());
}

std::optional<int> run_and_wait(const std::vector<std::string>& words, int timeout_ms) {
    reap_started_programs();
    pid_t pid = 0;
    const int rc = spawn(words, -1, false, pid);
    if (rc != 0) {
        set_pending_error_from_errno(rc);
        return std::nullopt;
    }
    return wait_until(pid, monotonic_ms() + timeout_ms);
}

std::optional<int> run_and_capture(const std::vector<std::string>& words, int timeout_ms, std::string& output) {
    output.clear();
    reap_started_programs();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        set_pending_error_from_errno(errno);
        return std::nullopt;
    }
    pid_t pid = 0;
    const int rc = spawn(words, fds[1], false, pid);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        set_pending_error_from_errno(rc);
        return std::nullopt;
    }
    const int64_t deadline = monotonic_ms() + timeout_ms;
    for (;;) {
        const int64_t left = deadline - monotonic_ms();
        if (left <= 0) break;
        pollfd p{fds[0], POLLIN, 0};
        const int n = poll(&p, 1, static_cast<int>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        char buf[4096];
        const ssize_t got = read(fds[0], buf, sizeof buf);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;  // end of output
        output.append(buf, static_cast<size_t>(got));
    }
    close(fds[0]);
    return wait_until(pid, deadline);
}

} // namespace ktr::platform
