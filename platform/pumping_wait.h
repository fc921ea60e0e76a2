// Waiting on the one thread: a wait pumps events in rounds until its time is up, so that every handler
// keeps running meanwhile. Time is the clock's tick counter, which a fake clock drives in tests.
#pragma once

#include <cstdint>
#include <functional>

namespace ktr::platform {

struct WaitRounds {
    // The longest one round blocks in the pump. 0: until the wait's end; an event still ends the round at
    // once, so the stop condition sees every change a handler makes, and an idle wait does not wake.
    int32_t round_ms = 35;
    int32_t restart_pause_ms = 1000;  // the pause after the tick counter ran backwards
};

// Where a running wait stands, as its stop condition sees it once a round.
struct WaitProgress {
    double elapsed_ms = 0;  // since the start
    double left_ms = 0;     // until the end
};

struct WaitResult {
    double elapsed_ms = 0;  // from the start to the return, restart pause included
    double left_ms = 0;     // when the stop condition ended the wait: the time that was still left
    bool stopped = false;   // the stop condition ended it
    bool counter_ran_backwards = false;
};

// Pumps events until duration_ms of the tick counter have passed. Each round first checks the time, then
// asks stop (when given), then pumps for at most the round. A counter that runs backwards (it wrapped, or the
// machine's counter restarted) ends the wait early rather than never: on_backwards runs (when given), then
// the wait pauses restart_pause_ms and returns.
WaitResult pump_wait(double duration_ms, const WaitRounds& rounds,
                     const std::function<bool(const WaitProgress&)>& stop = {},
                     const std::function<void()>& on_backwards = {});

// Pauses the full milliseconds by the tick counter, letting events run meanwhile; ends early only when the
// counter runs backwards.
void pause_full(int32_t ms);

} // namespace ktr::platform
