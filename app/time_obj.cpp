#include "app/time_obj.h"

#include <cmath>

#include "diag/debug_log.h"
#include "platform/convert.h"
#include "platform/pumping_wait.h"
#include "server/waits.h"

namespace ktr::app {
namespace {

int32_t whole_seconds(double ms) { return platform::to_int32(ms / 1000.0).value_or(0); }

} // namespace

int32_t CTimeObj::Sleep(double seconds, const std::function<void()>& new_second) {
    interrupt_ = false;
    remaining_request_ = false;
    const auto stop = [&](const platform::WaitProgress& at) {
        if (interrupt_) return true;
        if (remaining_request_) {
            remaining_seconds_ = whole_seconds(at.left_ms);
            remaining_request_ = false;
        }
        if (std::fmod(std::nearbyint(at.elapsed_ms), 1000.0) < 50 && new_second) new_second();
        return false;
    };
    // Without a callback nothing needs a round to end before an event does: the stop and the request for the
    // time left both come from handlers, after which the pump returns.
    const int32_t round_ms = new_second ? 35 : 0;
    const auto waited = platform::pump_wait(seconds * 1000.0, {round_ms, 1000}, stop, server::trace_counter_restart);
    if (waited.stopped) {
        KTR_TRACE("Interrupting sleep at " + platform::number_to_text(waited.left_ms / 1000.0));
        interrupt_ = false;
        return whole_seconds(waited.left_ms);
    }
    server::trace_paused_seconds(waited.elapsed_ms);
    return 0;
}

CTimeObj& time_obj() {
    static CTimeObj obj;
    return obj;
}

} // namespace ktr::app
