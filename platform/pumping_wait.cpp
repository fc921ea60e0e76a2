#include "platform/pumping_wait.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "platform/clock.h"
#include "platform/event_pump.h"

namespace ktr::platform {

WaitResult pump_wait(double duration_ms, const WaitRounds& rounds, const std::function<bool(const WaitProgress&)>& stop,
                     const std::function<void()>& on_backwards) {
    const double start = clock().tick_count();
    const double end = start + duration_ms;
    WaitResult result;
    for (;;) {
        const double tick = clock().tick_count();
        if (tick >= end) break;
        if (tick < start) {
            result.counter_ran_backwards = true;
            if (on_backwards) on_backwards();
            pause_full(rounds.restart_pause_ms);
            break;
        }
        if (stop && stop(WaitProgress{tick - start, end - tick})) {
            result.stopped = true;
            result.elapsed_ms = tick - start;
            result.left_ms = end - tick;
            return result;
        }
        // Blocks for the round at most: an event that is ready runs at once and ends the round. A round to the
        // end stops where the signed counter wraps, so that the wait sees it run backwards then.
        const double to_wrap = static_cast<double>(INT32_MAX) - tick + 1;
        pump_events(rounds.round_ms > 0 ? rounds.round_ms : static_cast<int>(std::ceil(std::min(end - tick, to_wrap))));
    }
    result.elapsed_ms = clock().tick_count() - start;
    return result;
}

void pause_full(int32_t ms) {
    const uint32_t start = static_cast<uint32_t>(clock().tick_count());
    for (;;) {
        const auto elapsed = static_cast<int32_t>(static_cast<uint32_t>(clock().tick_count()) - start);
        if (elapsed < 0 || elapsed >= ms) return;
        pump_events(ms - elapsed);
    }
}

} // namespace ktr::platform
