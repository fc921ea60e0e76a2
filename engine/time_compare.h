// Comparing the server's time with the system clock: the server's time is brought to local time, the
// clock is read, and the difference decides whether the clock may be set.
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/time_parsers.h"

namespace ktr::engine {

// The platform's time zone as the engine keeps it: minutes (UTC = local + bias, plus the daylight bias
// while daylight time is in force; a bias of -1 is no zone at all) and the daylight state (1 standard,
// 2 daylight, anything else unknown).
struct SystemZone {
    int16_t bias = 0;
    int16_t daylight_bias = 0;
    int32_t state = 0;
};

// The platform's zone now.
SystemZone read_system_zone();

// What a comparison found: the status, the time to set (local; 0 when nothing is to be set), whether the
// calendar date changes within a day, and the measured offset (positive: the clock is behind; 0 when
// nothing was measured).
struct ClockComparison {
    int16_t status = 0;
    double corrected = 0;
    bool date_change = false;
    int32_t difference_sec = 0;
    float difference_frac = 0;
};

// NIST, ACTS and the console's own strings: the reading's date and time are UTC; a forced setting ("F")
// may be below the minimum.
ClockComparison NIST_compare_time(const ServerReading& reading, const SystemZone& zone);
// Daytime and custom servers (in the zone ServerTZDiff says) and Time-protocol replies (UTC), to the second.
ClockComparison compare_time(std::string_view server_date_time, const SystemZone& zone);
// SNTP replies: the reading's date (UTC) and fraction, to the millisecond.
ClockComparison compare_ntp_time(const ServerReading& reading, const SystemZone& zone);

} // namespace ktr::engine
