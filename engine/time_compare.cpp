// Comparing the server's time with the system clock. The three families of server formats share one
// skeleton; a CompareVariant names what differs between them.
#include <cmath>
#include <cstdlib>
#include <stdexcept>

#include "config/options.h"
#include "diag/debug_log.h"
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

struct ConversionError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

int64_t to_ms(double date) { return std::llround(date * kMsPerDay); }

} // namespace

struct CNISTtimeset::CompareVariant {
    enum class Zone { SystemWithServerDst, SystemOnly, ServerHoursAhead };
    enum class MinimumRule { ForcibleMs, Drift, PlainMs };

    Zone zone;
    const char* corrected_label;
    bool uses_fraction;        // the server's fraction of a second counts in the difference
    bool nist_offset_trace;    // "Internal Local Sys: " rather than the "Internal System settings" lines
    const char* current_label;
    MinimumRule minimum;
    const char* conversion_error;

    static CompareVariant nist() {
        return {Zone::SystemWithServerDst, "Corrected NIST Time: ", true, true, "       -Current system time: ",
                MinimumRule::ForcibleMs, "Bad Date Conversion"};
    }
    static CompareVariant daytime(bool server_zone) {
        return {server_zone ? Zone::ServerHoursAhead : Zone::SystemOnly,
                server_zone ? "Corrected Daytime Time: " : "Corrected TZ Time: ", false, false,
                "       -Current system time: ", MinimumRule::Drift, "Bad Date Conversion"};
    }
    static CompareVariant ntp() {
        return {Zone::SystemOnly, "Corrected TZ Time: ", true, false, " -Current local time: ", MinimumRule::PlainMs,
                "NTP bad date conversion"};
    }
};

void CNISTtimeset::NIST_compare_time(int16_t& status) {
    // A two-digit NIST year is read as 20yy. A console date in another form (12/05/2026) is not made
    // unreadable by the prefix: it is read as it came.
    const std::string as_received = NISTDate_ + " " + NISTTime_;
    std::string text = NISTDate_.starts_with("20") ? as_received : "20" + as_received;
    if (!platform::is_date(text) && platform::is_date(as_received)) text = as_received;
    status = compare_on_skeleton(CompareVariant::nist(), text);
}

void CNISTtimeset::compare_time(std::string_view server_date_time, int16_t& status) {
    status = compare_on_skeleton(CompareVariant::daytime(config::options().ServerFormat() == 1), server_date_time);
}

void CNISTtimeset::compare_ntp_time(int16_t& status) { status = compare_on_skeleton(CompareVariant::ntp(), NISTDate_); }

int16_t CNISTtimeset::compare_on_skeleton(const CompareVariant& v, std::string_view server_text) {
    using Zone = CompareVariant::Zone;
    NISTCorrDateTime_ = 0;
    // Only this comparison may report a date change; an earlier run's must not set the date again.
    SystemDateChange_ = false;
    try {
        const config::COptions& opt = config::options();
        const auto received = platform::parse_date(server_text);
        if (!received) {
            KTR_TRACE(" Is not a date or time");
            return kStatusNotADate;
        }
        KTR_TRACE(" DateTime OK");
        if (SystemTZbias_ == -1) {
            KTR_TRACE("No time zone");
            return kStatusTimeZoneError;
        }

        // To local time.
        double corrected = *received;
        if (v.zone == Zone::ServerHoursAhead) {
            const std::string& hours = opt.ServerTZDiff();
            if (hours.empty()) {
                KTR_TRACE("No time zone");
            } else {
                const auto minutes = platform::to_int32(platform::leading_number(hours) * 60);
                if (!minutes) throw ConversionError("zone");
                corrected -= *minutes / 1440.0;
            }
        } else {
            bool dst = false;
            if (SystemDSTrtn_ == 2) {
                KTR_TRACE("System SAYS DST is ON");
                dst = true;
            } else if (SystemDSTrtn_ == 1) {
                KTR_TRACE("System SAYS DST is OFF");
            } else if (v.zone == Zone::SystemWithServerDst) {
                dst = NISTDST_ == 50;
                KTR_TRACE(dst ? "NIST SAYS DST is ON" : "NIST SAYS DST is OFF");
            }
            const auto offset = platform::to_int16(SystemTZbias_ + (dst ? SystemTZDSTbias_ : 0));
            if (!offset) throw ConversionError("bias");
            corrected -= *offset / 1440.0;
        }
        const bool with_fraction = v.uses_fraction && NISTSecFrac_ != 0;
        KTR_TRACE(v.corrected_label + format_date(corrected, "mm/dd/yy hh:nn:ss") +
                  (with_fraction ? format_number(NISTSecFrac_, ".000") : ""));

        // The system clock, whole seconds and the fraction apart.
        platform::DateParts local = platform::clock().local_now();
        local.millisecond = 0;
        double now = platform::parts_to_date(local);
        const float f = v.uses_fraction ? current_fraction() : 0.0f;
        if (diag::debug_on()) {
            const platform::DateParts utc = get_system_time();
            diag::debug_write(v.current_label + std::to_string(utc.hour) + ":" + std::to_string(utc.minute) + ":" +
                        std::to_string(utc.second) + "." + std::to_string(utc.millisecond));
        }
        if (opt.msecTimeOffset() != 0) now -= opt.msecTimeOffset() / kMsPerDay;
        if (diag::debug_on()) {
            if (v.nist_offset_trace) {
                if (opt.msecTimeOffset() != 0) diag::debug_write("Internal Local Sys: " + format_date(now, "mm-dd-yy hh:nn:ss"));
            } else {
                diag::debug_write(opt.msecTimeOffset() != 0 ? "Internal System settings with offset: "
                                                      : "Internal System settings: ");
                diag::debug_write("Local Date: " + format_date(now, "yy-mm-dd") + " Time: " + format_date(now, "hh:nn:ss"));
            }
        }

        // Dates.
        const std::string now_day = format_date(now, "yy-mm-dd");
        const std::string corrected_day = format_date(corrected, "yy-mm-dd");
        if (now_day != corrected_day) {
            if (std::fabs(now - corrected) > 0.997) {
                KTR_TRACE("Dates are different (Local/Corrected): " + now_day + " / " + corrected_day);
                NISTCorrDateTime_ = corrected;
                return kStatusDatesChanged;
            }
            KTR_TRACE("Dates are different (Local/Corrected) BUT WITHIN RANGE: " + now_day + " / " + corrected_day);
            SystemDateChange_ = true;
        } else {
            KTR_TRACE("3: Dates OK");
        }

        // Direction and size of the difference, in whole milliseconds so that equal times compare equal.
        const int64_t now_ms = to_ms(now);
        const int64_t corrected_ms = to_ms(corrected);
        const bool ahead = corrected_ms > now_ms || (corrected_ms == now_ms && v.uses_fraction && NISTSecFrac_ > f);
        const int64_t d_ms = std::llabs(corrected_ms - now_ms);
        const auto seconds = platform::to_int32(d_ms / 1000.0);
        if (!seconds) throw ConversionError("difference");
        SettingDifferenceSec_ = ahead ? *seconds : -*seconds;
        if (with_fraction) SettingDifferenceFrac_ = ahead ? NISTSecFrac_ - f : f - NISTSecFrac_;

        // Whole days were dealt with above: only the time of day of the difference, in whole seconds.
        double diff_s = static_cast<double>(std::llround(d_ms / 1000.0) % 86400);
        if (with_fraction) {
            diff_s += SettingDifferenceFrac_;
            KTR_TRACE(format_number(diff_s, "0.000") + " = time Difference:          " + " seconds");
        } else {
            KTR_TRACE("Time Difference: " + format_number(diff_s / 86400, "0.000000") + " days" + " (" +
                      format_number(diff_s, "0.0") + " seconds)");
        }
        diff_s = std::fabs(diff_s);

        // A difference of exactly the maximum may still be corrected.
        if (diff_s > static_cast<double>(opt.SetMaxThreshold())) {
            KTR_TRACE(" 4: Timediff > allowable");
            return kStatusAboveMaximum;
        }
        if (v.minimum == CompareVariant::MinimumRule::Drift && std::abs(SettingDifferenceSec_) < opt.SetMinThresholdDrift()) KTR_TRACE("Difference is < " + std::to_string(opt.SetMinThresholdDrift()) + " seconds, ignore accuracy");
        if (diff_s * 1000 >= static_cast<double>(opt.SetMinThreshold())) {
            KTR_TRACE("4,5: Time diff OK");
            NISTCorrDateTime_ = corrected;
            return kStatusSettingMade;
        }

        // Too small to correct.
        switch (v.minimum) {
        case CompareVariant::MinimumRule::ForcibleMs:
            KTR_TRACE(" 5: Timediff (" + format_number(diff_s / 86400, "0.0##") + ") < minimum (" +
                      format_number(opt.SetMinThreshold() / kMsPerDay, "0.0##") + ")");
            if (EntCmd_ == "F") {
                NISTCorrDateTime_ = corrected;
                return kStatusBelowMinimum;
            }
            break;
        case CompareVariant::MinimumRule::Drift:
            KTR_TRACE(" 5: Timediff < minimum");
            break;
        case CompareVariant::MinimumRule::PlainMs:
            KTR_TRACE(" 5: Timediff < minimum of " + std::to_string(opt.SetMinThreshold()) + " msec ");
            return kStatusBelowMinimum;
        }
        if (std::abs(SettingDifferenceSec_) == 1) {
            KTR_TRACE("Time difference is 1 sec - setting to 0");
            SettingDifferenceSec_ = 0;
        }
        return kStatusBelowMinimum;
    } catch (...) {
        KTR_TRACE(v.conversion_error);
        return kStatusConversionError;
    }
}

} // namespace ktr::engine
