// The UTC clock as the console's replies and the traces write it: every clock text in one place.
#pragma once

#include <string>

#include "platform/date_value.h"

namespace ktr::engine {

// "yyyy-mm-dd h:nn:ss" and, with the flag, ".mmm" (the "T" reply).
std::string system_time_text(bool with_milliseconds);
// "YY-MM-DD hh:mm:ss" (the "S", "F" and time-server replies).
std::string utc_time_text();
// The fraction of the current UTC second as "." and up to three digits without trailing zeros.
std::string fraction_text();
// "H:MM:SS.mmm" (hour without leading zero), from one reading: the time stamps inside trace lines.
std::string utc_clock_text();
// A time of day as the run's traces show it: "h:m:s.ms" without leading zeros.
std::string bare_time_text(const platform::DateParts& t);
// The local clock as the window's request label shows it ("General Date"), for the second of utc, a reading
// of the UTC clock. Made once a second: the requests of one second share the text.
const std::string& label_date_text(const platform::DateParts& utc);

} // namespace ktr::engine
