// A clock for tests: time stands still until the test moves it; the zone is fixed.
#pragma once

#include "fakes/scoped_env.h"
#include "platform/clock.h"
#include "platform/event_pump.h"
#include "platform/pending_error.h"

namespace ktr::testing {

class FakeClock : public platform::Clock {
public:
    // Starts at the given UTC date value in a zone with the given bias (UTC = local + bias minutes),
    // daylight bias and daylight state (0 unknown, 1 standard, 2 daylight).
    explicit FakeClock(double utc = 46361.5, int32_t bias = 0, int32_t daylight_bias = 0, int state = 0)
        : utc_(utc), zone_{bias, 0, daylight_bias, state, "Standard Time", "Daylight Time"} {}

    platform::DateParts utc_now() override { return platform::date_to_parts(utc_); }
    platform::DateParts local_now() override { return platform::date_to_parts(utc_ - offset_days()); }
    bool set_local_time(const platform::DateParts& local) override { return accept_set(local, offset_days()); }
    bool set_system_time(const platform::DateParts& utc) override { return accept_set(utc, 0); }
    int32_t tick_count() override { return tick_; }
    platform::TimeZoneInfo time_zone() override { return zone_; }

    // Moves time forward (the tick counter too, wrapping as a signed 32-bit counter does).
    void advance_ms(int64_t ms) {
        utc_ += static_cast<double>(ms) / 86400000.0;
        tick_ = static_cast<int32_t>(static_cast<uint32_t>(tick_ + ms));
    }
    void set_utc(double utc) { utc_ = utc; }
    double utc() const { return utc_; }
    void set_tick(int32_t tick) { tick_ = tick; }
    void set_zone(const platform::TimeZoneInfo& zone) { zone_ = zone; }
    // Whether sets are refused (the pending error is then filled).
    void refuse_sets(bool refuse) { refuse_ = refuse; }
    int set_calls() const { return set_calls_; }

private:
    // Days to subtract from UTC to get local time.
    double offset_days() const { return (zone_.bias + (zone_.state == 2 ? zone_.daylight_bias : 0)) / 1440.0; }
    // A refused set, or an impossible date, fails as a missing privilege does.
    bool accept_set(const platform::DateParts& parts, double to_utc) {
        ++set_calls_;
        const bool ok = !refuse_ && platform::valid_ymd(parts.year, parts.month, parts.day);
        if (ok) utc_ = platform::parts_to_date(parts) + to_utc;
        else platform::set_pending_error(1314, "A required privilege is not held by the client.");
        return ok;
    }

    double utc_;
    platform::TimeZoneInfo zone_;
    int32_t tick_ = 1000;
    bool refuse_ = false;
    int set_calls_ = 0;
};

struct ScopedFakeClock : OnScopeEnd {
    explicit ScopedFakeClock(FakeClock& c) : OnScopeEnd([] { platform::set_clock(nullptr); }) { platform::set_clock(&c); }
};

// The event pump's pauses move the clock on instead of blocking, for the life of the object; after_pause
// (when given) runs after each pause, at the new time.
struct ScopedFakePauses : OnScopeEnd {
    explicit ScopedFakePauses(FakeClock& c, std::function<void()> after_pause = {})
        : OnScopeEnd([] { platform::set_pause_hook(nullptr); }) {
        platform::set_pause_hook([&c, after = std::move(after_pause)](int ms) {
            c.advance_ms(ms);
            if (after) after();
            return 0;
        });
    }
};

// UTC-5 with daylight saving in force (local = UTC - 4 h).
inline FakeClock eastern_daylight_clock(double utc = 46361.5) { return FakeClock(utc, 300, -60, 2); }

} // namespace ktr::testing
