#include "engine/nist_timeset.h"

#include "diag/debug_log.h"
#include "platform/clock.h"

namespace ktr::engine {

std::string setting_status_text(int16_t code) {
    switch (code) {
    case kStatusSettingMade: return "Clock setting made";
    case kStatusNotADate: return "Date or time invalid";
    case kStatusTimeZoneError: return "Time zone error";
    case kStatusDatesChanged: return "Dates changed. Setting date";
    case kStatusAboveMaximum: return "Time difference exceeds maximum";
    case kStatusBelowMinimum: return "Time difference too small";
    case kStatusTimecheckOK: return "Timecheck OK";
    case kStatusConversionError: return "Time conversion error";
    case kStatusServerError: return "Server error";
    case kStatusBadString: return "String was corrupt or format was wrong";
    default: return "Error Code: " + std::to_string(code);
    }
}

void CNISTtimeset::System_get_timezone() {
    const platform::TimeZoneInfo tz = platform::clock().time_zone();
    SystemDSTrtn_ = tz.state;
    // The fields are 16-bit minutes; a bias outside that range is no usable zone at all.
    const auto fits = [](int32_t v) { return v >= INT16_MIN && v <= INT16_MAX; };
    SystemTZbias_ = fits(tz.bias) ? static_cast<int16_t>(tz.bias) : int16_t{-1};
    SystemTZDSTbias_ = fits(tz.daylight_bias) ? static_cast<int16_t>(tz.daylight_bias) : int16_t{0};
    KTR_TRACE("   Daylight savings time is currently " + std::to_string(tz.state) +
              " (1 is OFF, 2 is ON)");
    KTR_TRACE("Time zone Bias: " + std::to_string(tz.bias));
}

} // namespace ktr::engine
