// Writing the corrected server time to the system clock (local time).
#include <cmath>

#include "config/options.h"
#include "diag/debug_log.h"
#include "diag/error_report.h"
#include "engine/nist_timeset.h"
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

} // namespace

void CNISTtimeset::System_set_time(double& dNewTime, bool& result) {
    if (NISTSecFrac_ <= 0 && NISTLegTime_ <= 0) {
        result = std::isfinite(dNewTime) && set_time_of_day(dNewTime);
        if (!result) report_time_setting_error();
        return;
    }
    const int32_t offset_ms = config::options().msecTimeOffset();
    if (offset_ms != 0) dNewTime += offset_ms / 86400000.0;
    const float total = NISTSecFrac_ + NISTLegTime_;
    SetLocalTimeAPI(dNewTime, total, result);
    if (!result) report_time_setting_error();
    else KTR_TRACE("Corrected time: " + format_date(dNewTime + total / 86400.0, "hh:nn:ss"));
}

void CNISTtimeset::System_set_date(double& dNewTime) {
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

void CNISTtimeset::SetLocalTimeAPI(double dNewTime, float fraction, bool& result) {
    result = false;
    platform::DateParts st = platform::clock().local_now();
    KTR_TRACE("Current local tme: " + std::to_string(st.hour) + ":" + format_number(st.minute, "0#") + ":" +
              format_number(st.second, "0#") + "." + format_number(st.millisecond, "00#") + clock_stamp());
    const auto bad_conversion = [&] {
        KTR_TRACE("Bad time conversion of " + platform::number_to_text(dNewTime) + " in SetLocalTimeAPI");
    };
    if (!std::isfinite(dNewTime) || !std::isfinite(fraction) || fraction < 0 || fraction >= 60) {
        bad_conversion();
        return;
    }

    const platform::DateParts t = platform::date_to_parts(dNewTime);
    int h = t.hour, m = t.minute, s = t.second;
    // Milliseconds already in the value (the time offset) join the fraction rather than being lost.
    double rest = fraction + t.millisecond / 1000.0;
    bool zero_ms = false;
    const int w = static_cast<int>(rest);
    if (w >= 1) {
        if (s < 60 - w) {
            s += w;
            rest -= w;
        } else if (m < 59) {
            s += w - 60;
            ++m;
            rest -= w;
        } else if (h < 23) {
            s += w - 60;
            ++h;
            m = 0;
            zero_ms = true;
        } else {
            return;  // carrying would cross midnight: the next run sets the clock instead
        }
    }
    // A tolerance keeps a single-precision 0.2 from losing its 200th millisecond.
    const int ms = zero_ms ? 0 : static_cast<int>(std::floor(rest * 1000.0 + 1e-3));
    if (s < 0 || s > 59 || ms < 0 || ms > 999) {
        bad_conversion();
        return;
    }

    st.hour = h;
    st.minute = m;
    st.second = s;
    st.millisecond = ms;
    result = platform::clock().set_local_time(st);
    if (!result) KTR_TRACE("SetLocalTimeAPI error " + std::to_string(platform::pending_error().number));
    KTR_TRACE("Time setting made: " + std::to_string(h) + ":" + std::to_string(m) + ":" + std::to_string(s) + "." +
              std::to_string(ms) + clock_stamp());
}

} // namespace ktr::engine
