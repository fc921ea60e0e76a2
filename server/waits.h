// The two plain waits: they pause in rounds, letting pending events run between rounds, until the tick
// counter passes the end. A counter that runs backwards (a restart of the machine's counter) ends the wait.
#pragma once

#include <cstdint>

namespace ktr::server {

// Waits the seconds (rounds of 35 ms); cannot be interrupted.
void wait_seconds(int32_t seconds);
// Waits the milliseconds (rounds of 5 ms).
void wait_ms(int32_t milliseconds);

// The trace lines of the waits: the tick counter ran backwards; a wait of seconds ended.
void trace_counter_restart();
void trace_paused_seconds(double elapsed_ms);

} // namespace ktr::server
