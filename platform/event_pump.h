// The one event pump of the process: ready descriptors, timers and signals, dispatched on the one thread.
// What a window-message loop delivers elsewhere (socket, serial, timer and control events) comes from here.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace ktr::platform {

// Readiness bits of a watched descriptor.
enum : unsigned { kReadable = 1u, kWritable = 2u, kHangup = 4u };

// Watches a descriptor: the handler gets the ready bits. Returns the watch id (> 0), never 0.
// The handler of a watch whose previous dispatch is still running (it waits and the wait pumps again)
// is not called by the nested pump; the event stays pending until that dispatch ends.
int watch_descriptor(int fd, unsigned interest, std::function<void(unsigned ready)> handler);
// Changes what a watch waits for (0 = nothing for now; the descriptor keeps its queue).
void set_watch_interest(int watch_id, unsigned interest);
// Ends a watch; safe from inside its own handler.
void unwatch(int watch_id);

// Lets pending events run: dispatches every ready descriptor and every due timer once. When nothing is
// ready it blocks for at most max_wait_ms (less if a timer falls due first) and wakes at once on an event.
// Re-entrant. Returns the number of handlers it ran.
int pump_events(int max_wait_ms = 0);

// Tests: replaces the blocking part of a pump round that found nothing to do. The hook gets the pause the
// round would have blocked for (a fake clock advances its tick counter by it). nullptr restores blocking.
void set_pause_hook(std::function<void(int ms)> hook);

// Signals delivered as events (through a self-pipe): interrupt (Ctrl+C), terminate, hang-up.
enum class SignalKind { interrupt, terminate, hangup };
// Installs the handler for the signal kind (nullptr restores the default action).
void on_signal(SignalKind kind, std::function<void(SignalKind)> handler);

// A window timer: fires every Interval milliseconds of the clock's tick counter while Enabled and the
// interval is above 0. Enabling, or changing the interval, restarts the count. One callback.
class Timer {
public:
    Timer();
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    int32_t Interval() const { return interval_; }
    void Interval(int32_t ms);
    bool Enabled() const { return enabled_; }
    void Enabled(bool on);
    void on_timer(std::function<void()> handler) { handler_ = std::move(handler); }

    // For the pump: ticks until due (negative when overdue); meaningful only while running().
    bool running() const { return enabled_ && interval_ > 0; }
    int32_t due_in(int32_t now) const;
    void fire(int32_t now);

private:
    int32_t interval_ = 0;
    bool enabled_ = false;
    bool in_dispatch_ = false;
    int32_t start_ = 0;
    std::function<void()> handler_;
};

} // namespace ktr::platform
