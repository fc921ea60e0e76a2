// Waits in real time until a condition holds: pumping the module's events, or for another process.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

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

// Whether done() comes true within the time, tried every 10 ms.
inline bool eventually(auto done, int timeout_ms = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (; !done(); std::this_thread::sleep_for(std::chrono::milliseconds(10)))
        if (std::chrono::steady_clock::now() > end) return false;
    return true;
}

} // namespace ktr::testing
