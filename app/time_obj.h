// The interruptible wait of the main service loop.
#pragma once

#include <cstdint>
#include <functional>

namespace ktr::app {

class CTimeObj {
public:
    // Waits the seconds, letting events run as they come. Returns 0 when the time ran out or the tick
    // counter ran backwards, else the whole seconds left when InterruptFlag ended it. new_second (may be
    // empty) is called near each full second of waiting: the wait then looks every 35 ms; without it the
    // wait sleeps until an event or its end.
    int32_t Sleep(double seconds, const std::function<void()>& new_second);

    bool InterruptFlag() const { return interrupt_; }
    void InterruptFlag(bool on) { interrupt_ = on; }

    // Asks the running wait to publish the seconds it has left; Remaining() then reads them.
    void RequestRemaining() { remaining_request_ = true; }
    int32_t Remaining() const { return remaining_seconds_; }

private:
    bool interrupt_ = false;
    bool remaining_request_ = false;
    int32_t remaining_seconds_ = 0;
};

// The program-wide wait object, created on first use.
CTimeObj& time_obj();

} // namespace ktr::app
