#include "server/waits.h"

#include "diag/debug_log.h"
#include "platform/format.h"
#include "platform/pumping_wait.h"

namespace ktr::server {

void trace_counter_restart() {
    KTR_TRACE("------->WINDOWS RESET!!!!!  Exiting loop!");
}

void trace_paused_seconds(double elapsed_ms) {
    KTR_TRACE("Paused for " + platform::format_number(elapsed_ms / 1000.0, "0.000") + " seconds");
}

void wait_seconds(int32_t seconds) {
    const auto waited =
        platform::pump_wait(static_cast<double>(seconds) * 1000.0, {35, 1000}, {}, trace_counter_restart);
    trace_paused_seconds(waited.elapsed_ms);
}

void wait_ms(int32_t milliseconds) {
    const auto waited = platform::pump_wait(milliseconds, {5, 100}, {}, trace_counter_restart);
    KTR_TRACE("Paused for " + platform::format_number(waited.elapsed_ms, "0000") + " milliseconds");
}

} // namespace ktr::server
