// Shared set-up of the engine's fuzz targets: a fixed clock, so that runs are repeatable and this machine's
// clock is never touched.
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/time_compare.h"
#include "platform/clock.h"
#include "platform/date_value.h"

namespace ktr::engine {

namespace fuzz {

class FixedClock : public platform::Clock {
public:
    platform::DateParts utc_now() override { return platform::date_to_parts(platform::make_date(2026, 7, 1, 12, 0, 0)); }
    platform::DateParts local_now() override { return platform::date_to_parts(platform::make_date(2026, 7, 1, 8, 0, 0)); }
    bool set_local_time(const platform::DateParts&) override { return true; }
    bool set_system_time(const platform::DateParts&) override { return true; }
    int32_t tick_count() override { return 0; }
    platform::TimeZoneInfo time_zone() override { return {300, 0, -60, 2, "", ""}; }
};

// Installs the clock; the zone the engine reads from it.
inline SystemZone install_fixed_clock() {
    static FixedClock clock;
    platform::set_clock(&clock);
    return read_system_zone();
}

inline std::string_view as_text(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

} // namespace fuzz
} // namespace ktr::engine
