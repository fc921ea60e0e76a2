#include "engine/time_util.h"

#include <cmath>

#include "diag/debug_log.h"
#include "platform/clock.h"
#include "platform/date_parse.h"
#include "platform/format.h"
#include "platform/text.h"
#include "platform/locale.h"
#include "platform/pending_error.h"

namespace ktr::engine {
namespace {

using platform::format_number;

bool g_month_first = false;

std::string two_digits(int v) { return format_number(v, "0#"); }

} // namespace

bool month_first() { return g_month_first; }
void set_month_first(bool on) { g_month_first = on; }

platform::DateParts get_system_time() { return platform::clock().utc_now(); }

double systemtime_to_date(const platform::DateParts& st) {
    const std::string day = std::to_string(st.day);
    const std::string month = std::to_string(st.month);
    std::string text = g_month_first ? month + "/" + day : day + "/" + month;
    text += "/" + std::to_string(st.year) + " " + two_digits(st.hour) + ":" + two_digits(st.minute) + ":" +
            two_digits(st.second);
    KTR_TRACE("System Date Time String: " + text);
    const auto value = platform::parse_date(text);
    if (!value) return 0;
    KTR_TRACE("Current local system time: " + platform::format_date(*value, "mm/dd/yy hh:nn:ss"));
    return *value;
}

platform::DateParts date_to_systemtime(double date, float fraction) {
    platform::DateParts st = platform::date_to_parts(date);
    st.day_of_week = 0;
    const double ms = std::isfinite(fraction) ? std::trunc(fraction * 1000.0) : 0.0;
    st.millisecond = ms < 0 ? 0 : ms > 999 ? 999 : static_cast<int>(ms);
    KTR_TRACE("Time from NTP server: " + std::to_string(st.hour) + ":" + two_digits(st.minute) + ":" +
              two_digits(st.second) + "." + format_number(st.millisecond, "00#"));
    return st;
}

bool set_system_time(const platform::DateParts& utc) {
    const bool ok = platform::clock().set_system_time(utc);
    if (!ok) {
        KTR_TRACE("Error on SetSystemTime: 0");
        KTR_TRACE(std::to_string(platform::pending_error().number));
    }
    return ok;
}

float ms_to_fraction(int16_t ms) {
    if (ms <= 999) return static_cast<float>(ms / 1000.0);
    if (ms <= 9999) return static_cast<float>(ms / 10000.0);
    return static_cast<float>(ms / 100000.0);
}

float current_fraction() { return clock_fraction(get_system_time()); }

float clock_fraction(const platform::DateParts& utc) {
    const float fraction = ms_to_fraction(static_cast<int16_t>(utc.millisecond));
    KTR_TRACE("Fractional second: " + format_number(fraction, ".###"));
    return fraction;
}

std::string detect_short_date_order(bool& month_first_out, bool& day_first_out, bool& year_first_out,
                                    std::string_view source) {
    // One locale serves both the system and the user view here.
    (void)source;
    const std::string pattern = platform::current_locale().short_date_pattern;
    const std::string up = platform::to_upper(pattern);
    const char first = up.empty() ? '\0' : up.front();
    const bool ends_in_year = up.size() >= 2 && up.ends_with("YY");
    if (first == 'M' && ends_in_year) {
        month_first_out = true;
    } else if (first == 'D' && ends_in_year) {
        day_first_out = true;
        KTR_TRACE("Is in D/M/Y format: " + pattern);
    } else if (first == 'Y' && up.ends_with('D')) {
        year_first_out = true;
        KTR_TRACE("Is in Y/M/D format: " + pattern);
    } else {
        KTR_TRACE((first == 'M' ? "Unknown short date format: " : "Unknown Short date format: ") + pattern);
    }
    return pattern;
}

} // namespace ktr::engine
