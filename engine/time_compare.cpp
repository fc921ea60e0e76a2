// The three families of server formats share one comparison; CompareRules names what differs between them.
#include "engine/time_compare.h"

#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>

#include "config/options.h"
#include "diag/debug_log.h"
#include "engine/clock_text.h"
#include "engine/nist_timeset.h"
#include "engine/time_util.h"
#include "platform/clock.h"
#include "platform/convert.h"
#include "platform/date_parse.h"
#include "platform/format.h"

namespace ktr::engine {
namespace {

using platform::format_date;
using platform::format_number;

constexpr double kMsPerDay = 86400000.0;

struct CompareRules {
    enum class Zone { SystemWithServerDst, SystemOnly, ServerHoursAhead };
    enum class MinimumRule { ForcibleMs, Drift, PlainMs };

    Zone zone;
    const char* corrected_label;
    bool uses_fraction;      // the server's fraction of a second counts in the difference
    bool nist_offset_trace;  // "Internal Local Sys: " rather than the "Internal System settings" lines
    const char* current_label;
    MinimumRule minimum;
    const char* conversion_error;
};

constexpr CompareRules kNistRules{CompareRules::Zone::SystemWithServerDst, "Corrected NIST Time: ", true, true,
                                  "       -Current system time: ", CompareRules::MinimumRule::ForcibleMs,
                                  "Bad Date Conversion"};
constexpr CompareRules kNtpRules{CompareRules::Zone::SystemOnly, "Corrected TZ Time: ", true, false,
                                 " -Current local time: ", CompareRules::MinimumRule::PlainMs,
                                 "NTP bad date conversion"};

CompareRules daytime_rules(bool server_zone) {
    return {server_zone ? CompareRules::Zone::ServerHoursAhead : CompareRules::Zone::SystemOnly,
            server_zone ? "Corrected Daytime Time: " : "Corrected TZ Time: ", false, false,
            "       -Current system time: ", CompareRules::MinimumRule::Drift, "Bad Date Conversion"};
}

// The server's time as read, with what the rules need of the reading.
struct ServerTime {
    std::string_view text;
    float fraction = 0;
    int16_t dst_code = 0;
    bool forced = false;
};

// The clock at the comparison: whole seconds less the time offset, and the fraction of the current second.
struct ClockNow {
    double now;
    float fraction;
};

// The system's daylight state decides; without one, the NIST code does where the rules allow it.
bool daylight_time(const CompareRules& rules, const ServerTime& server, const SystemZone& zone) {
    if (zone.state == 2) {
        KTR_TRACE("System SAYS DST is ON");
        return true;
    }
    if (zone.state == 1) {
        KTR_TRACE("System SAYS DST is OFF");
        return false;
    }
    if (rules.zone != CompareRules::Zone::SystemWithServerDst) return false;
    const bool on = server.dst_code == 50;
    KTR_TRACE(on ? "NIST SAYS DST is ON" : "NIST SAYS DST is OFF");
    return on;
}

// The received time in local time; none when the zone does not convert.
std::optional<double> to_local_time(const CompareRules& rules, double received, const ServerTime& server,
                                    const SystemZone& zone) {
    double corrected = received;
    if (rules.zone == CompareRules::Zone::ServerHoursAhead) {
        const std::string& hours = config::options().ServerTZDiff();
        if (hours.empty()) {
            KTR_TRACE("No time zone");
        } else {
            const auto minutes = platform::to_int32(platform::leading_number(hours) * 60);
            if (!minutes) return std::nullopt;
            corrected -= *minutes / 1440.0;
        }
    } else {
        const bool dst = daylight_time(rules, server, zone);
        const auto offset = platform::to_int16(zone.bias + (dst ? zone.daylight_bias : 0));
        if (!offset) return std::nullopt;
        corrected -= *offset / 1440.0;
    }
    const bool with_fraction = rules.uses_fraction && server.fraction != 0;
    KTR_TRACE(rules.corrected_label + format_date(corrected, "mm/dd/yy hh:nn:ss") +
              (with_fraction ? format_number(server.fraction, ".000") : ""));
    return corrected;
}

ClockNow read_clock(const CompareRules& rules) {
    const config::COptions& opt = config::options();
    platform::DateParts local = platform::clock().local_now();
    local.millisecond = 0;
    double now = platform::parts_to_date(local);
    const float fraction = rules.uses_fraction ? current_fraction() : 0.0f;
    KTR_TRACE(rules.current_label + bare_time_text(get_system_time()));
    const bool offset = opt.msecTimeOffset() != 0;
    if (offset) now -= opt.msecTimeOffset() / kMsPerDay;
    if (rules.nist_offset_trace) {
        if (offset) KTR_TRACE("Internal Local Sys: " + format_date(now, "mm-dd-yy hh:nn:ss"));
    } else {
        KTR_TRACE(offset ? "Internal System settings with offset: " : "Internal System settings: ");
        KTR_TRACE("Local Date: " + format_date(now, "yy-mm-dd") + " Time: " + format_date(now, "hh:nn:ss"));
    }
    return {now, fraction};
}

// The dates differ by more than a day: the date is to be set, nothing else is measured.
bool dates_changed(double now, double corrected, ClockComparison& c) {
    const std::string now_day = format_date(now, "yy-mm-dd");
    const std::string corrected_day = format_date(corrected, "yy-mm-dd");
    if (now_day == corrected_day) {
        KTR_TRACE("3: Dates OK");
        return false;
    }
    if (std::fabs(now - corrected) > 0.997) {
        KTR_TRACE("Dates are different (Local/Corrected): " + now_day + " / " + corrected_day);
        c.status = config::kStatusDatesChanged;
        c.corrected = corrected;
        return true;
    }
    KTR_TRACE("Dates are different (Local/Corrected) BUT WITHIN RANGE: " + now_day + " / " + corrected_day);
    c.date_change = true;
    return false;
}

// Direction and size of the difference, in whole milliseconds so that equal times compare equal; the
// result is the time-of-day part in seconds (whole days were dealt with by the dates), unsigned. None
// when the difference does not convert.
std::optional<double> measure(const CompareRules& rules, double corrected, const ClockNow& clock,
                              const ServerTime& server, ClockComparison& c) {
    const int64_t now_ms = std::llround(clock.now * kMsPerDay);
    const int64_t corrected_ms = std::llround(corrected * kMsPerDay);
    const bool ahead =
        corrected_ms > now_ms || (corrected_ms == now_ms && rules.uses_fraction && server.fraction > clock.fraction);
    const int64_t d_ms = std::llabs(corrected_ms - now_ms);
    const auto seconds = platform::to_int32(d_ms / 1000.0);
    if (!seconds) return std::nullopt;
    c.difference_sec = ahead ? *seconds : -*seconds;
    const bool with_fraction = rules.uses_fraction && server.fraction != 0;
    if (with_fraction) c.difference_frac = ahead ? server.fraction - clock.fraction : clock.fraction - server.fraction;

    double diff_s = static_cast<double>(std::llround(d_ms / 1000.0) % 86400);
    if (with_fraction) {
        diff_s += c.difference_frac;
        KTR_TRACE(format_number(diff_s, "0.000") + " = time Difference:          " + " seconds");
    } else {
        KTR_TRACE("Time Difference: " + format_number(diff_s / 86400, "0.000000") + " days" + " (" +
                  format_number(diff_s, "0.0") + " seconds)");
    }
    return std::fabs(diff_s);
}

// The thresholds on the measured difference (seconds): above the maximum nothing is set; below the
// minimum only a forced setting is.
int16_t apply_thresholds(const CompareRules& rules, double diff_s, double corrected, const ServerTime& server,
                         ClockComparison& c) {
    using Rule = CompareRules::MinimumRule;
    const config::COptions& opt = config::options();
    // A difference of exactly the maximum may still be corrected.
    if (diff_s > static_cast<double>(opt.SetMaxThreshold())) {
        KTR_TRACE(" 4: Timediff > allowable");
        return config::kStatusAboveMaximum;
    }
    if (rules.minimum == Rule::Drift && std::abs(c.difference_sec) < opt.SetMinThresholdDrift()) KTR_TRACE("Difference is < " + std::to_string(opt.SetMinThresholdDrift()) + " seconds, ignore accuracy");
    if (diff_s * 1000 >= static_cast<double>(opt.SetMinThreshold())) {
        KTR_TRACE("4,5: Time diff OK");
        c.corrected = corrected;
        return config::kStatusSettingMade;
    }
    if (rules.minimum == Rule::PlainMs) {
        KTR_TRACE(" 5: Timediff < minimum of " + std::to_string(opt.SetMinThreshold()) + " msec ");
        return config::kStatusBelowMinimum;
    }
    if (rules.minimum == Rule::Drift) {
        KTR_TRACE(" 5: Timediff < minimum");
    } else {
        KTR_TRACE(" 5: Timediff (" + format_number(diff_s / 86400, "0.0##") + ") < minimum (" +
                  format_number(opt.SetMinThreshold() / kMsPerDay, "0.0##") + ")");
        if (server.forced) {
            c.corrected = corrected;
            return config::kStatusBelowMinimum;
        }
    }
    if (std::abs(c.difference_sec) == 1) {
        KTR_TRACE("Time difference is 1 sec - setting to 0");
        c.difference_sec = 0;
    }
    return config::kStatusBelowMinimum;
}

// A clock is only ever given a date it can hold, as local time and as UTC alike: beyond that range no
// clock's arithmetic is safe.
bool settable(double local, const SystemZone& zone) {
    const double worst_bias_days = (std::abs(zone.bias) + std::abs(zone.daylight_bias)) / 1440.0;
    return platform::clock_can_hold(local - worst_bias_days) && platform::clock_can_hold(local + worst_bias_days);
}

ClockComparison conversion_error(const CompareRules& rules) {
    KTR_TRACE(rules.conversion_error);
    return {config::kStatusConversionError};
}

// The comparison shared by the three families: the server's time to local time, the clock read, the
// difference classified.
ClockComparison compare_with_clock(const CompareRules& rules, const ServerTime& server, const SystemZone& zone) {
    try {
        const auto received = platform::parse_date(server.text);
        if (!received) {
            KTR_TRACE(" Is not a date or time");
            return {config::kStatusNotADate};
        }
        KTR_TRACE(" DateTime OK");
        if (zone.bias == -1) {
            KTR_TRACE("No time zone");
            return {config::kStatusTimeZoneError};
        }
        const auto corrected = to_local_time(rules, *received, server, zone);
        if (!corrected) return conversion_error(rules);
        if (!settable(*corrected, zone)) {
            KTR_TRACE(" Is not a date or time");
            return {config::kStatusNotADate};
        }
        const ClockNow clock = read_clock(rules);
        ClockComparison c;
        if (dates_changed(clock.now, *corrected, c)) return c;
        const auto diff_s = measure(rules, *corrected, clock, server, c);
        if (!diff_s) return conversion_error(rules);
        c.status = apply_thresholds(rules, *diff_s, *corrected, server, c);
        return c;
    } catch (...) {
        return conversion_error(rules);
    }
}

} // namespace

SystemZone read_system_zone() {
    const platform::TimeZoneInfo tz = platform::clock().time_zone();
    // The fields are 16-bit minutes; a bias outside that range is no usable zone at all.
    const auto fits = [](int32_t v) { return v >= INT16_MIN && v <= INT16_MAX; };
    KTR_TRACE("   Daylight savings time is currently " + std::to_string(tz.state) + " (1 is OFF, 2 is ON)");
    KTR_TRACE("Time zone Bias: " + std::to_string(tz.bias));
    return {fits(tz.bias) ? static_cast<int16_t>(tz.bias) : int16_t{-1},
            fits(tz.daylight_bias) ? static_cast<int16_t>(tz.daylight_bias) : int16_t{0}, tz.state};
}

ClockComparison NIST_compare_time(const ServerReading& reading, const SystemZone& zone) {
    // A two-digit NIST year is read as 20yy. A console date in another form (12/05/2026) is not made
    // unreadable by the prefix: it is read as it came.
    const std::string as_received = reading.date + " " + reading.time;
    std::string text = reading.date.starts_with("20") ? as_received : "20" + as_received;
    if (!platform::is_date(text) && platform::is_date(as_received)) text = as_received;
    return compare_with_clock(kNistRules, {text, reading.fraction, reading.dst, reading.command == "F"}, zone);
}

ClockComparison compare_time(std::string_view server_date_time, const SystemZone& zone) {
    return compare_with_clock(daytime_rules(config::options().ServerFormat() == config::kServerDaytime), {server_date_time}, zone);
}

ClockComparison compare_ntp_time(const ServerReading& reading, const SystemZone& zone) {
    return compare_with_clock(kNtpRules, {reading.date, reading.fraction}, zone);
}

} // namespace ktr::engine
