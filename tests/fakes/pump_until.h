// Runs the event pump until a condition holds or the real time runs out.
#pragma once

#include <chrono>
#include <functional>

#include "platform/event_pump.h"

namespace ktr::testing {

inline bool pump_until(const std::function<bool()>& done, int timeout_ms = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        platform::pump_events(5);
    }
    return true;
}

} // namespace ktr::testing
