// Date values: double days since 1899-12-30 00:00, the time of day in the fraction.
// The one home of the conversions between date values and broken-down time.
#pragma once

#include <cstdint>

namespace ktr::platform {

using DateValue = double;

// Broken-down time with milliseconds. Same field order as the platform's broken-down time record
// (year, month, day of week, day, hour, minute, second, milliseconds); day_of_week 0 = Sunday.
struct DateParts {
    int year = 1899;
    int month = 12;
    int day_of_week = 0;
    int day = 30;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    friend bool operator==(const DateParts&, const DateParts&) = default;
};

// Smallest and largest date values the runtime accepts (years 100 to 9999).
inline constexpr double kMinDate = -657434.0;
inline constexpr double kMaxDate = 2958465.99999999;

// Day number of a calendar date. Months and days out of range roll over (month 13 is January of the next
// year, day 0 the last day of the previous month), as the runtime's DateSerial does.
double date_serial(int year, int month, int day);
// Fraction of a day for a time; out-of-range parts roll over (may exceed one day or go negative).
double time_serial(int hour, int minute, int second, int millisecond = 0);
// Whole date value.
double make_date(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                 int millisecond = 0);

// Broken-down time of a date value, rounded to the nearest millisecond. For negative values the day part
// counts backwards and the fraction is still the time of day, as the runtime's dates do.
DateParts date_to_parts(double date);
// Date value of a broken-down time (day_of_week is ignored).
double parts_to_date(const DateParts& parts);

// Whether a year/month/day is a real calendar date (1 <= month <= 12, day within the month, year 100..9999).
bool valid_ymd(int year, int month, int day);
int days_in_month(int year, int month);

// Whole days part (Int toward minus infinity for positive, toward zero as the runtime does for dates).
double date_part(double date);
// Time-of-day fraction, always 0 <= t < 1.
double time_part(double date);

} // namespace ktr::platform
