#include "server/waits.h"

#include "diag/debug_log.h"
#include "platform/clock.h"
#include "platform/event_pump.h"
#include "platform/format.h"

namespace ktr::server {
namespace {

// One plain wait; returns the milliseconds waited.
double wait_loop(double duration_ms, int32_t round_ms, int32_t restart_pause_ms) {
    const double start = platform::clock().tick_count();
    const double end = start + duration_ms;
    for (;;) {
        const double tick = platform::clock().tick_count();
        if (tick >= end) break;
        if (tick < start) {
            KTR_TRACE(kCounterRestartText);
            pause_full(restart_pause_ms);
            break;
        }
        // Blocks for the round at most: an event that is ready runs at once and ends the round.
        platform::pump_events(round_ms);
    }
    return platform::clock().tick_count() - start;
}

} // namespace

void pause_full(int32_t ms) {
    const uint32_t start = static_cast<uint32_t>(platform::clock().tick_count());
    for (;;) {
        const auto elapsed = static_cast<int32_t>(static_cast<uint32_t>(platform::clock().tick_count()) - start);
        if (elapsed < 0 || elapsed >= ms) return;
        platform::pump_events(ms - elapsed);
    }
}

void wait_seconds(int32_t seconds) {
    const double waited = wait_loop(static_cast<double>(seconds) * 1000.0, 35, 1000);
    KTR_TRACE("Paused for " + platform::format_number(waited / 1000.0, "0.000") + " seconds");
}

void wait_ms(int32_t milliseconds) {
    const double waited = wait_loop(milliseconds, 5, 100);
    KTR_TRACE("Paused for " + platform::format_number(waited, "0000") + " milliseconds");
}

} // namespace ktr::server
