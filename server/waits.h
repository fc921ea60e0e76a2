// The two plain waits: they pause in rounds, letting pending events run between rounds, until the tick
// counter passes the end. A counter that runs backwards (a restart of the machine's counter) ends the wait.
#pragma once

#include <cstdint>

namespace ktr::server {

// Waits the seconds (rounds of 35 ms); cannot be interrupted.
void wait_seconds(int32_t seconds);
// Waits the milliseconds (rounds of 5 ms).
void wait_ms(int32_t milliseconds);

// The trace line a wait writes when the tick counter ran backwards.
inline constexpr const char* kCounterRestartText = "------->WINDOWS RESET!!!!!  Exiting loop!";

// Pauses the full milliseconds (by the tick counter), letting events run meanwhile.
void pause_full(int32_t ms);

} // namespace ktr::server
