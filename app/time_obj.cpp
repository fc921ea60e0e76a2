#include "app/time_obj.h"

#include <cmath>

#include "diag/debug_log.h"
#include "platform/clock.h"
#include "platform/convert.h"
#include "platform/event_pump.h"
#include "platform/format.h"
#include "server/waits.h"

namespace ktr::app {
namespace {

int32_t whole_seconds(double ms) { return platform::to_int32(ms / 1000.0).value_or(0); }

} // namespace

int32_t CTimeObj::Sleep(double seconds, const std::function<void()>& new_second) {
    const double start = platform::clock().tick_count();
    const double end = start + seconds * 1000.0;
    interrupt_ = false;
    remaining_request_ = false;
    minute_mark_ = start;
    int32_t result = 0;
    double tick = start;
    for (;;) {
        tick = platform::clock().tick_count();
        if (tick >= end) break;
        if (tick < start) {
            KTR_TRACE(server::kCounterRestartText);
            server::pause_full(1000);
            break;
        }
        if (interrupt_) {
            KTR_TRACE("Interrupting sleep at " + platform::number_to_text((end - tick) / 1000.0));
            interrupt_ = false;
            return whole_seconds(end - tick);
        }
        if (remaining_request_) {
            remaining_seconds_ = whole_seconds(end - tick);
            remaining_request_ = false;
        }
        const double elapsed = std::nearbyint(tick - minute_mark_);
        if (std::fmod(elapsed, 1000.0) < 50 && new_second) new_second();
        platform::pump_events(35);
    }
    KTR_TRACE("Paused for " +
              platform::format_number((platform::clock().tick_count() - start) / 1000.0, "0.000") +
              " seconds");
    return result;
}

CTimeObj& time_obj() {
    static CTimeObj obj;
    return obj;
}

} // namespace ktr::app
