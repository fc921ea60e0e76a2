// Writing the corrected server time (local time) to the system clock.
#pragma once

namespace ktr::engine {

// Sets the time of day of dNewTime plus the fraction and the leg delay (seconds, through the precise
// setting, with the time offset added); both 0: whole seconds. The platform's flag; a refusal is reported.
bool System_set_time(double dNewTime, float fraction, float leg_time);
// Sets the calendar date of dNewTime, keeping the time of day.
void System_set_date(double dNewTime);
// Sets hour, minute and second of dNewTime plus the fraction (seconds, carried into the minute and hour
// but never past midnight) through the local clock; the platform's flag.
bool SetLocalTimeAPI(double dNewTime, float fraction);

} // namespace ktr::engine
