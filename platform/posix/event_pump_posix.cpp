// The POSIX side of the event pump: poll(2) over the watched descriptors, and a self-pipe that turns
// signals into ordinary events.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <map>
#include <vector>

#include "platform/backend.h"
#include "platform/event_pump.h"
#include "platform/posix/posix_support.h"

namespace ktr::platform {
namespace {

short to_poll(HandleEvents interest) {
    short ev = 0;
    if (any_of(interest, HandleEvents::input)) ev |= POLLIN;
    if (any_of(interest, HandleEvents::output)) ev |= POLLOUT;
    return ev;
}

HandleEvents from_poll(short revents) {
    HandleEvents r = HandleEvents::none;
    if (revents & (POLLIN | POLLPRI)) r = r | HandleEvents::input;
    if (revents & POLLOUT) r = r | HandleEvents::output;
    if (revents & (POLLHUP | POLLERR | POLLNVAL)) r = r | HandleEvents::closed;
    return r;
}

struct SignalState {
    int pipe[2] = {-1, -1};
    std::map<int, std::function<void(StopRequest)>> handlers;
};

// Never destroyed: a signal may arrive while static objects end.
SignalState& signals() {
    static SignalState* s = new SignalState;
    return *s;
}

int signal_number(StopRequest kind) { return kind == StopRequest::interrupt ? SIGINT : SIGTERM; }

extern "C" void on_posix_signal(int signo) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signo);
    const int fd = signals().pipe[1];
    if (fd >= 0) (void)!write(fd, &byte, 1);  // a full pipe already holds a wake-up
    errno = saved;
}

void drain_signals(HandleEvents) {
    unsigned char buf[64];
    for (;;) {
        const ssize_t n = read(signals().pipe[0], buf, sizeof buf);
        if (n <= 0) break;
        for (ssize_t i = 0; i < n; ++i) {
            const auto it = signals().handlers.find(buf[i]);
            if (it == signals().handlers.end() || !it->second) continue;
            auto handler = it->second;  // the handler may replace itself
            handler(buf[i] == SIGINT ? StopRequest::interrupt : StopRequest::terminate);
        }
    }
}

bool ensure_signal_pipe() {
    SignalState& s = signals();
    if (s.pipe[0] >= 0) return true;
    if (pipe2(s.pipe, O_NONBLOCK | O_CLOEXEC) != 0) return false;
    watch_handle(handle_of(s.pipe[0]), HandleEvents::input, drain_signals);
    return true;
}

} // namespace

int backend::wait_for_handles(std::vector<HandleWait>& handles, int timeout_ms) {
    static std::vector<pollfd> fds;  // kept between rounds: a busy pump allocates nothing
    fds.clear();
    for (const auto& h : handles) fds.push_back(pollfd{fd_of(h.handle), to_poll(h.interest), 0});
    const int ready = poll(fds.data(), fds.size(), timeout_ms);
    for (size_t i = 0; i < handles.size(); ++i)
        handles[i].ready = ready > 0 ? from_poll(fds[i].revents) : HandleEvents::none;
    return ready > 0 ? ready : 0;
}

void on_stop_request(StopRequest kind, std::function<void(StopRequest)> handler) {
    // A closed terminal (SIGHUP) asks the program to end as a terminate request does: an orderly unload.
    std::vector<int> numbers{signal_number(kind)};
    if (kind == StopRequest::terminate) numbers.push_back(SIGHUP);
    for (const int signo : numbers) {
        struct sigaction sa {};
        sigemptyset(&sa.sa_mask);
        if (handler && ensure_signal_pipe()) {
            signals().handlers[signo] = handler;
            sa.sa_handler = on_posix_signal;
            sa.sa_flags = SA_RESTART;
        } else {
            signals().handlers.erase(signo);
            sa.sa_handler = SIG_DFL;
        }
        sigaction(signo, &sa, nullptr);
    }
}

} // namespace ktr::platform
