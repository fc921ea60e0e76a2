// The event pump on poll(2): descriptors, timers read from the clock's tick counter, and a self-pipe
// that turns signals into ordinary events.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <map>
#include <vector>

#include "platform/clock.h"
#include "platform/event_pump.h"

namespace ktr::platform {
namespace {

struct Watch {
    int fd = -1;
    unsigned interest = 0;
    bool in_dispatch = false;
    std::shared_ptr<std::function<void(unsigned)>> handler;
};

struct PumpState {
    std::map<int, Watch> watches;
    int next_watch = 1;
    std::map<uint64_t, Timer*> timers;  // by registration number, so a timer freed in a handler is skipped
    std::map<Timer*, uint64_t> timer_ids;
    uint64_t next_timer = 1;
    std::function<void(int)> pause_hook;
    int signal_pipe[2] = {-1, -1};
    int signal_watch = 0;
    std::map<int, std::function<void(SignalKind)>> signal_handlers;
};

// Never destroyed: timers and sockets of other static objects may still end after main returns.
PumpState& state() {
    static PumpState* s = new PumpState;
    return *s;
}

short to_poll(unsigned interest) {
    short ev = 0;
    if (interest & kReadable) ev |= POLLIN;
    if (interest & kWritable) ev |= POLLOUT;
    return ev;
}

unsigned from_poll(short revents) {
    unsigned r = 0;
    if (revents & (POLLIN | POLLPRI)) r |= kReadable;
    if (revents & POLLOUT) r |= kWritable;
    if (revents & (POLLHUP | POLLERR | POLLNVAL)) r |= kHangup;
    return r;
}

int signal_number(SignalKind kind) {
    switch (kind) {
    case SignalKind::interrupt: return SIGINT;
    case SignalKind::terminate: return SIGTERM;
    case SignalKind::hangup: return SIGHUP;
    }
    return SIGTERM;
}

extern "C" void on_posix_signal(int signo) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signo);
    const int fd = state().signal_pipe[1];
    if (fd >= 0) (void)!write(fd, &byte, 1);  // a full pipe already holds a wake-up
    errno = saved;
}

void drain_signals(unsigned) {
    unsigned char buf[64];
    for (;;) {
        const ssize_t n = read(state().signal_pipe[0], buf, sizeof buf);
        if (n <= 0) break;
        for (ssize_t i = 0; i < n; ++i) {
            const auto it = state().signal_handlers.find(buf[i]);
            if (it == state().signal_handlers.end() || !it->second) continue;
            auto handler = it->second;  // the handler may replace itself
            const SignalKind kind = buf[i] == SIGINT ? SignalKind::interrupt
                                    : buf[i] == SIGHUP ? SignalKind::hangup
                                                       : SignalKind::terminate;
            handler(kind);
        }
    }
}

bool ensure_signal_pipe() {
    PumpState& s = state();
    if (s.signal_pipe[0] >= 0) return true;
    if (pipe2(s.signal_pipe, O_NONBLOCK | O_CLOEXEC) != 0) return false;
    s.signal_watch = watch_descriptor(s.signal_pipe[0], kReadable, drain_signals);
    return true;
}

// Milliseconds until the first running timer that is not being dispatched falls due; -1 when none runs.
int next_timer_wait(int32_t now) {
    int best = -1;
    for (const auto& [id, t] : state().timers) {
        if (!t->running()) continue;
        const int32_t due = std::max<int32_t>(0, t->due_in(now));
        if (best < 0 || due < best) best = due;
    }
    return best;
}

} // namespace

int watch_descriptor(int fd, unsigned interest, std::function<void(unsigned)> handler) {
    PumpState& s = state();
    const int id = s.next_watch++;
    if (s.next_watch <= 0) s.next_watch = 1;
    Watch w;
    w.fd = fd;
    w.interest = interest;
    w.handler = std::make_shared<std::function<void(unsigned)>>(std::move(handler));
    s.watches[id] = std::move(w);
    return id;
}

void set_watch_interest(int watch_id, unsigned interest) {
    const auto it = state().watches.find(watch_id);
    if (it != state().watches.end()) it->second.interest = interest;
}

void unwatch(int watch_id) { state().watches.erase(watch_id); }

void set_pause_hook(std::function<void(int)> hook) { state().pause_hook = std::move(hook); }

int pump_events(int max_wait_ms) {
    PumpState& s = state();
    std::vector<pollfd> fds;
    std::vector<int> ids;
    for (const auto& [id, w] : s.watches) {
        if (w.in_dispatch || w.interest == 0) continue;
        fds.push_back(pollfd{w.fd, to_poll(w.interest), 0});
        ids.push_back(id);
    }

    int wait = std::max(0, max_wait_ms);
    const int timer_wait = next_timer_wait(clock().tick_count());
    if (timer_wait >= 0) wait = std::min(wait, timer_wait);

    int ready = 0;
    if (s.pause_hook) {
        ready = poll(fds.data(), fds.size(), 0);
        if (ready <= 0 && wait > 0) {
            auto hook = s.pause_hook;
            hook(wait);
        }
    } else {
        ready = poll(fds.data(), fds.size(), wait);
    }

    int ran = 0;
    if (ready > 0) {
        for (size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents == 0) continue;
            const auto it = s.watches.find(ids[i]);
            if (it == s.watches.end() || it->second.in_dispatch || it->second.fd != fds[i].fd) continue;
            auto handler = it->second.handler;  // lives on even if the handler ends its own watch
            it->second.in_dispatch = true;
            (*handler)(from_poll(fds[i].revents));
            ++ran;
            const auto again = s.watches.find(ids[i]);
            if (again != s.watches.end()) again->second.in_dispatch = false;
        }
    }

    const int32_t now = clock().tick_count();
    std::vector<uint64_t> due;
    for (const auto& [id, t] : s.timers)
        if (t->running() && t->due_in(now) <= 0) due.push_back(id);
    for (const uint64_t id : due) {
        const auto it = s.timers.find(id);
        if (it == s.timers.end()) continue;
        it->second->fire(clock().tick_count());
        ++ran;
    }
    return ran;
}

void on_signal(SignalKind kind, std::function<void(SignalKind)> handler) {
    const int signo = signal_number(kind);
    struct sigaction sa {};
    sigemptyset(&sa.sa_mask);
    if (handler && ensure_signal_pipe()) {
        state().signal_handlers[signo] = std::move(handler);
        sa.sa_handler = on_posix_signal;
        sa.sa_flags = SA_RESTART;
    } else {
        state().signal_handlers.erase(signo);
        sa.sa_handler = SIG_DFL;
    }
    sigaction(signo, &sa, nullptr);
}

Timer::Timer() {
    PumpState& s = state();
    const uint64_t id = s.next_timer++;
    s.timers[id] = this;
    s.timer_ids[this] = id;
}

Timer::~Timer() {
    PumpState& s = state();
    const auto it = s.timer_ids.find(this);
    if (it == s.timer_ids.end()) return;
    s.timers.erase(it->second);
    s.timer_ids.erase(it);
}

void Timer::Interval(int32_t ms) {
    interval_ = ms;
    start_ = clock().tick_count();
}

void Timer::Enabled(bool on) {
    if (on && !enabled_) start_ = clock().tick_count();
    enabled_ = on;
}

int32_t Timer::due_in(int32_t now) const {
    if (in_dispatch_) return interval_;  // not again from a nested pump
    const int32_t elapsed = static_cast<int32_t>(static_cast<uint32_t>(now) - static_cast<uint32_t>(start_));
    return interval_ - elapsed;
}

void Timer::fire(int32_t now) {
    if (in_dispatch_) return;
    start_ = now;
    if (!handler_) return;
    auto handler = handler_;  // the handler may replace itself or free the timer
    const uint64_t id = state().timer_ids.count(this) ? state().timer_ids[this] : 0;
    in_dispatch_ = true;
    handler();
    if (state().timers.count(id)) in_dispatch_ = false;
}

} // namespace ktr::platform
