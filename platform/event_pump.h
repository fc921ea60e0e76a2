// The one event pump of the process: ready handles, timers and stop requests, dispatched on the one thread.
// What a window-message loop delivers elsewhere (socket, serial, timer and control events) comes from here.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/handle.h"

namespace ktr::platform {

// What the pump reports about a watched handle; a watch asks for a set of them and its handler gets the set
// that occurred.
enum class HandleEvents : unsigned { none = 0, input = 1u, output = 2u, closed = 4u };
constexpr HandleEvents operator|(HandleEvents a, HandleEvents b) {
    return static_cast<HandleEvents>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}
// Whether the set holds any of the wanted events.
constexpr bool any_of(HandleEvents set, HandleEvents wanted) {
    return (static_cast<unsigned>(set) & static_cast<unsigned>(wanted)) != 0;
}

// Watches a handle: the handler gets the events that occurred. Returns the watch id (> 0), never 0.
// The handler of a watch whose previous dispatch is still running (it waits and the wait pumps again)
// is not called by the nested pump; the event stays pending until that dispatch ends.
int watch_handle(OsHandle handle, HandleEvents interest, std::function<void(HandleEvents ready)> handler);
// Changes what a watch waits for (none = nothing for now; the handle keeps its queue).
void set_watch_interest(int watch_id, HandleEvents interest);
// Ends a watch; safe from inside its own handler.
void unwatch(int watch_id);

// Lets pending events run: dispatches every ready handle and every due timer once. When nothing is
// ready it blocks for at most max_wait_ms (less if a timer falls due first) and wakes at once on an event.
// Re-entrant. Returns the number of handlers it ran.
int pump_events(int max_wait_ms = 0);

// Tests: replaces the blocking part of a pump round that found nothing ready. The hook gets the pause the
// round would have blocked for (a fake clock advances its tick counter by it) and returns how many real
// milliseconds the round may still wait for a handle to become ready (0: none). nullptr restores blocking.
void set_pause_hook(std::function<int(int ms)> hook);

// Requests to end the program that arrive from outside (Ctrl+C; the system or a user asking it to stop),
// delivered as events of the pump.
enum class StopRequest { interrupt, terminate };
// Installs the handler for the request (nullptr restores the default: the program ends).
void on_stop_request(StopRequest kind, std::function<void(StopRequest)> handler);

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
