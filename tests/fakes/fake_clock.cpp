#include "fakes/fake_clock.h"

#include "platform/event_pump.h"
#include "platform/pending_error.h"

namespace ktr::testing {

// A refused set, or an impossible date, fails as a missing privilege does.
bool FakeClock::accept_set(const platform::DateParts& parts, double to_utc) {
    ++set_calls_;
    if (refuse_ || !platform::valid_ymd(parts.year, parts.month, parts.day)) {
        platform::set_pending_error(1314, "A required privilege is not held by the client.");
        return false;
    }
    utc_ = platform::parts_to_date(parts) + to_utc;
    return true;
}

void FakeClock::advance_ms(int64_t ms) {
    utc_ += static_cast<double>(ms) / 86400000.0;
    tick_ = static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(tick_) + ms));
}

ScopedFakePauses::ScopedFakePauses(FakeClock& c, std::function<void()> after_pause)
    : OnScopeEnd([] { platform::set_pause_hook(nullptr); }) {
    platform::set_pause_hook([&c, after = std::move(after_pause)](int ms) {
        c.advance_ms(ms);
        if (after) after();
        return 0;
    });
}

} // namespace ktr::testing
