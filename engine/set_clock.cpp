#include "engine/set_clock.h"

#include <cmath>
#include <optional>

#include "config/options.h"
#include "diag/debug_log.h"
#include "diag/error_report.h"
#include "engine/time_util.h"
#include "platform/clock.h"
#include "platform/convert.h"
#include "platform/format.h"
#include "platform/pending_error.h"

namespace ktr::engine {
namespace {

using platform::format_date;
using platform::format_number;

std::string clock_stamp() { return format_date(platform::now_local(), "mm-dd hh:nn:ss  "); }

void report_time_setting_error() {
    diag::error_report(diag::Severity::error, "Time setting error - check permissions", "CNISTTimeset API", "System_set_time", 70);
}

// Whole-second setting of the time of day; the date stays.
bool set_time_of_day(double new_time) {
    platform::DateParts st = platform::clock().local_now();
    const platform::DateParts t = platform::date_to_parts(new_time);
    st.hour = t.hour;
    st.minute = t.minute;
    st.second = t.second;
    st.millisecond = 0;
    return platform::clock().set_local_time(st);
}

// The time of day plus the fraction: whole seconds carry into the minute and the hour (the hour's carry
// drops the milliseconds). None when the carry would cross midnight.
std::optional<platform::DateParts> add_fraction(platform::DateParts t, float fraction) {
    // Milliseconds already in the value (the time offset) join the fraction rather than being lost.
    double rest = fraction + t.millisecond / 1000.0;
    bool zero_ms = false;
    const int w = static_cast<int>(rest);
    if (w >= 1) {
        if (t.second < 60 - w) {
            t.second += w;
            rest -= w;
        } else if (t.minute < 59) {
            t.second += w - 60;
            ++t.minute;
            rest -= w;
        } else if (t.hour < 23) {
            t.second += w - 60;
            ++t.hour;
            t.minute = 0;
            zero_ms = true;
        } else {
            return std::nullopt;
        }
    }
    // A tolerance keeps a single-precision 0.2 from losing its 200th millisecond.
    t.millisecond = zero_ms ? 0 : static_cast<int>(std::floor(rest * 1000.0 + 1e-3));
    return t;
}

} // namespace

bool System_set_time(double dNewTime, float fraction, float leg_time) {
    if (fraction <= 0 && leg_time <= 0) {
        const bool result = std::isfinite(dNewTime) && set_time_of_day(dNewTime);
        if (!result) report_time_setting_error();
        return result;
    }
    const int32_t offset_ms = config::options().msecTimeOffset();
    if (offset_ms != 0) dNewTime += offset_ms / 86400000.0;
    const float total = fraction + leg_time;
    const bool result = SetLocalTimeAPI(dNewTime, total);
    if (!result) report_time_setting_error();
    else KTR_TRACE("Corrected time: " + format_date(dNewTime + total / 86400.0, "hh:nn:ss"));
    return result;
}

void System_set_date(double dNewTime) {
    if (!std::isfinite(dNewTime) || dNewTime < platform::kMinDate || dNewTime > platform::kMaxDate) {
        diag::error_report(diag::Severity::error, "Date setting error - check permissions", "CNISTTimeset", "System_set_date", 71);
        return;
    }
    const std::string text = format_date(dNewTime, month_first() ? "m/d/yy" : "General Date");
    KTR_TRACE("System_set_date to new date: " + text);
    // The date comes from the value itself rather than from its text: a two-digit year read back would
    // put years after 2029 into the last century.
    platform::DateParts st = platform::clock().local_now();
    const platform::DateParts d = platform::date_to_parts(dNewTime);
    st.year = d.year;
    st.month = d.month;
    st.day = d.day;
    if (!platform::clock().set_local_time(st))
        diag::error_report(diag::Severity::error, "Date setting error - check permissions", "CNISTTimeset", "System_set_date", 71);
}

bool SetLocalTimeAPI(double dNewTime, float fraction) {
    platform::DateParts st = platform::clock().local_now();
    KTR_TRACE("Current local tme: " + std::to_string(st.hour) + ":" + format_number(st.minute, "0#") + ":" +
              format_number(st.second, "0#") + "." + format_number(st.millisecond, "00#") + clock_stamp());
    const auto bad_conversion = [&] {
        KTR_TRACE("Bad time conversion of " + platform::number_to_text(dNewTime) + " in SetLocalTimeAPI");
        return false;
    };
    if (!std::isfinite(dNewTime) || !std::isfinite(fraction) || fraction < 0 || fraction >= 60) return bad_conversion();

    const auto t = add_fraction(platform::date_to_parts(dNewTime), fraction);
    if (!t) return false;  // carrying would cross midnight: the next run sets the clock instead
    if (t->second < 0 || t->second > 59 || t->millisecond < 0 || t->millisecond > 999) return bad_conversion();

    st.hour = t->hour;
    st.minute = t->minute;
    st.second = t->second;
    st.millisecond = t->millisecond;
    const bool result = platform::clock().set_local_time(st);
    if (!result) KTR_TRACE("SetLocalTimeAPI error " + std::to_string(platform::pending_error().number));
    KTR_TRACE("Time setting made: " + std::to_string(t->hour) + ":" + std::to_string(t->minute) + ":" +
              std::to_string(t->second) + "." + std::to_string(t->millisecond) + clock_stamp());
    return result;
}

} // namespace ktr::engine
