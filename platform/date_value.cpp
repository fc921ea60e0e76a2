#include "platform/date_value.h"

#include <cmath>

namespace ktr::platform {
namespace {

// Days from 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's algorithm).
long long days_from_civil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void civil_from_days(long long z, int& y, int& m, int& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long yy = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yy + (m <= 2));
}

// 1899-12-30 is day 0; it lies 25569 days before 1970-01-01.
constexpr long long kEpochOffset = 25569;

} // namespace

bool valid_ymd(int year, int month, int day) {
    return year >= 100 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
           day <= days_in_month(year, month);
}

int days_in_month(int year, int month) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0)) return 29;
    return kDays[month - 1];
}

double date_serial(int year, int month, int day) {
    // Roll months over into years first, then let the day count roll freely.
    long long y = year;
    long long m0 = static_cast<long long>(month) - 1;
    y += m0 >= 0 ? m0 / 12 : -((11 - m0) / 12);
    m0 = ((m0 % 12) + 12) % 12;
    const long long first = days_from_civil(y, static_cast<unsigned>(m0 + 1), 1);
    return static_cast<double>(first + kEpochOffset + static_cast<long long>(day) - 1);
}

double time_serial(int hour, int minute, int second, int millisecond) {
    const double ms = ((static_cast<double>(hour) * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond;
    return ms / 86400000.0;
}

double make_date(int year, int month, int day, int hour, int minute, int second, int millisecond) {
    return parts_to_date(DateParts{year, month, 0, day, hour, minute, second, millisecond});
}

double date_part(double date) { return std::trunc(date); }

double time_part(double date) {
    double t = std::fabs(date - std::trunc(date));
    return t >= 1.0 ? 0.0 : t;
}

DateParts date_to_parts(double date) {
    DateParts p;
    if (!std::isfinite(date) || date < kMinDate - 1 || date > kMaxDate + 1) return p;
    long long days = static_cast<long long>(std::trunc(date));
    long long ms = std::llround(std::fabs(date - static_cast<double>(days)) * 86400000.0);
    if (ms >= 86400000) { // rounding reached midnight of the next day (in the value's direction)
        ms -= 86400000;
        days += date < 0 ? -1 : 1;
    }
    civil_from_days(days - kEpochOffset, p.year, p.month, p.day);
    p.day_of_week = static_cast<int>((((days - kEpochOffset) % 7) + 7 + 4) % 7); // 1970-01-01 was a Thursday
    p.hour = static_cast<int>(ms / 3600000);
    p.minute = static_cast<int>(ms / 60000 % 60);
    p.second = static_cast<int>(ms / 1000 % 60);
    p.millisecond = static_cast<int>(ms % 1000);
    return p;
}

double parts_to_date(const DateParts& p) {
    const double day = date_serial(p.year, p.month, p.day);
    const double t = time_serial(p.hour, p.minute, p.second, p.millisecond);
    // For days before the epoch the time counts away from zero, as the runtime's dates do.
    return day < 0 ? day - t : day + t;
}

} // namespace ktr::platform
