// The machine's clock: UTC and local broken-down time, setting it, the millisecond tick counter and the
// time-zone information. Everything that reads or sets time goes through the process's Clock, so tests
// swap in a fake and the simulated clock keeps this machine's time untouched.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/date_value.h"

namespace ktr::platform {

// Time-zone information as the platform reports it. UTC = local + bias (minutes); while daylight saving
// time is in force the daylight bias is added to the bias.
struct TimeZoneInfo {
    int32_t bias = 0;
    int32_t standard_bias = 0;
    int32_t daylight_bias = 0;
    int state = 0;  // 0 unknown (no daylight saving), 1 standard time, 2 daylight time
    std::string standard_name;
    std::string daylight_name;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual DateParts utc_now() = 0;
    virtual DateParts local_now() = 0;
    // Set the clock; false (with the pending-error record filled) when the platform refuses.
    virtual bool set_local_time(const DateParts& local) = 0;
    virtual bool set_system_time(const DateParts& utc) = 0;
    // Milliseconds since start-up as a signed 32-bit counter (it wraps to negative after ~24.8 days).
    virtual int32_t tick_count() = 0;
    virtual TimeZoneInfo time_zone() = 0;
};

// The process's clock. Chosen on first use: simulated when KTRSVC_SIMULATE names "clock", else real.
Clock& clock();
// Replaces the process's clock (tests). The caller keeps ownership; nullptr returns to the default.
void set_clock(Clock* clock);

// The real clock: the machine's own, with the system's time-zone rules.
std::unique_ptr<Clock> make_real_clock();
// The real clock plus an offset held in the process; setting the clock changes the offset only.
std::unique_ptr<Clock> make_simulated_clock();

// Convenience: current local and UTC date values (the runtime's Now).
double now_local();
double now_utc();

// Whether a clock can be set to the date value (local or UTC): from 1 January 1970 to the end of 2261,
// what the machine clock holds. The simulated clock is held to the same range.
bool clock_can_hold(double date);

} // namespace ktr::platform
