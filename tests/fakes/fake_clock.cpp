#include "fakes/fake_clock.h"

#include "platform/event_pump.h"
#include "platform/pending_error.h"

namespace ktr::testing {

FakeClock::FakeClock(double utc, int32_t bias, int32_t daylight_bias, int state) : utc_(utc) {
    zone_.bias = bias;
    zone_.daylight_bias = daylight_bias;
    zone_.state = state;
    zone_.standard_name = "Standard Time";
    zone_.daylight_name = "Daylight Time";
}

int32_t FakeClock::local_offset_minutes() const {
    return zone_.bias + (zone_.state == 2 ? zone_.daylight_bias : 0);
}

platform::DateParts FakeClock::utc_now() { return platform::date_to_parts(utc_); }

platform::DateParts FakeClock::local_now() {
    return platform::date_to_parts(utc_ - local_offset_minutes() / 1440.0);
}

bool FakeClock::set_local_time(const platform::DateParts& local) {
    return accept_set(local, local_offset_minutes() / 1440.0);
}

bool FakeClock::set_system_time(const platform::DateParts& utc) { return accept_set(utc, 0); }

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

ScopedFakePauses::ScopedFakePauses(FakeClock& c, std::function<void()> after_pause) {
    platform::set_pause_hook([&c, after = std::move(after_pause)](int ms) {
        c.advance_ms(ms);
        if (after) after();
        return 0;
    });
}

ScopedFakePauses::~ScopedFakePauses() { platform::set_pause_hook(nullptr); }

} // namespace ktr::testing
