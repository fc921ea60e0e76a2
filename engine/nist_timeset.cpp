#include "engine/nist_timeset.h"

namespace ktr::engine {

std::string setting_status_text(int16_t code) {
    switch (code) {
    case config::kStatusSettingMade: return "Clock setting made";
    case config::kStatusNotADate: return "Date or time invalid";
    case config::kStatusTimeZoneError: return "Time zone error";
    case config::kStatusDatesChanged: return "Dates changed. Setting date";
    case config::kStatusAboveMaximum: return "Time difference exceeds maximum";
    case config::kStatusBelowMinimum: return "Time difference too small";
    case config::kStatusTimecheckOK: return "Timecheck OK";
    case config::kStatusConversionError: return "Time conversion error";
    case config::kStatusServerError: return "Server error";
    case config::kStatusBadString: return "String was corrupt or format was wrong";
    default: return "Error Code: " + std::to_string(code);
    }
}

bool checked_clock(int16_t code) {
    return code == config::kStatusSettingMade || code == config::kStatusClocksInSync || code == config::kStatusBelowMinimum ||
           code == config::kStatusAboveMaximum || code == config::kStatusDatesChanged;
}

} // namespace ktr::engine
