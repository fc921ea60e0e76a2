// A clock for tests: time stands still until the test moves it; the zone is fixed.
#pragma once

#include <functional>

#include "platform/clock.h"

namespace ktr::testing {

class FakeClock : public platform::Clock {
public:
    // Starts at the given UTC date value in a zone with the given bias (UTC = local + bias minutes),
    // daylight bias and daylight state (0 unknown, 1 standard, 2 daylight).
    explicit FakeClock(double utc = 46361.5, int32_t bias = 0, int32_t daylight_bias = 0, int state = 0);

    platform::DateParts utc_now() override;
    platform::DateParts local_now() override;
    bool set_local_time(const platform::DateParts& local) override;
    bool set_system_time(const platform::DateParts& utc) override;
    int32_t tick_count() override { return tick_; }
    platform::TimeZoneInfo time_zone() override { return zone_; }

    // Moves time forward (the tick counter too, wrapping as a signed 32-bit counter does).
    void advance_ms(int64_t ms);
    void set_utc(double utc) { utc_ = utc; }
    double utc() const { return utc_; }
    void set_tick(int32_t tick) { tick_ = tick; }
    void set_zone(const platform::TimeZoneInfo& zone) { zone_ = zone; }
    // Whether sets are refused (the pending error is then filled).
    void refuse_sets(bool refuse) { refuse_ = refuse; }
    int set_calls() const { return set_calls_; }

private:
    // Minutes to subtract from UTC to get local time.
    int32_t local_offset_minutes() const;
    bool accept_set(const platform::DateParts& parts, double to_utc);

    double utc_;
    int32_t tick_ = 1000;
    platform::TimeZoneInfo zone_;
    bool refuse_ = false;
    int set_calls_ = 0;
};

// Installs a FakeClock as the process's clock for the life of the object.
class ScopedFakeClock {
public:
    explicit ScopedFakeClock(FakeClock& c) { platform::set_clock(&c); }
    ~ScopedFakeClock() { platform::set_clock(nullptr); }
    ScopedFakeClock(const ScopedFakeClock&) = delete;
    ScopedFakeClock& operator=(const ScopedFakeClock&) = delete;
};

// The event pump's pauses move the clock on instead of blocking, for the life of the object; after_pause
// (when given) runs after each pause, at the new time.
class ScopedFakePauses {
public:
    explicit ScopedFakePauses(FakeClock& c, std::function<void()> after_pause = {});
    ~ScopedFakePauses();
    ScopedFakePauses(const ScopedFakePauses&) = delete;
    ScopedFakePauses& operator=(const ScopedFakePauses&) = delete;
};

// UTC-5 with daylight saving in force (local = UTC - 4 h).
inline FakeClock eastern_daylight_clock(double utc = 46361.5) { return FakeClock(utc, 300, -60, 2); }

} // namespace ktr::testing
