// Small system-time helpers: the UTC clock as a broken-down record, conversions between broken-down
// time and date values, the fraction of the current second, and the short date order of the locale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/date_value.h"

namespace ktr::engine {

// The UTC clock now.
platform::DateParts get_system_time();
// Date value of a broken-down time, read back through the date text in the short date order (0 when the
// text is not a date).
double systemtime_to_date(const platform::DateParts& st);
// Broken-down time of a date value; the milliseconds come from the fraction (0 to <1), day of week 0.
platform::DateParts date_to_systemtime(double date, float fraction);
// Sets the UTC clock; the platform's success flag.
bool set_system_time(const platform::DateParts& utc);
// Fraction of the current UTC second.
float current_fraction();
// Fraction of the second of a reading of the UTC clock, traced as current_fraction traces it.
float clock_fraction(const platform::DateParts& utc);
// A millisecond count as a fraction: up to 999 thousandths, up to 9999 ten-thousandths, else
// hundred-thousandths.
float ms_to_fraction(int16_t ms);

// The module-wide flag: the short date order puts the month first.
bool month_first();
void set_month_first(bool on);

// Classifies the locale's short date pattern ("SYSTEM" or "USER" locale); sets at most one of the
// outputs and returns the pattern.
std::string detect_short_date_order(bool& month_first_out, bool& day_first_out, bool& year_first_out,
                                    std::string_view source);

} // namespace ktr::engine
