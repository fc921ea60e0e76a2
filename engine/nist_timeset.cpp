#include "engine/nist_timeset.h"

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

bool checked_clock(int16_t code) {
    return code == kStatusSettingMade || code == kStatusClocksInSync || code == kStatusBelowMinimum ||
           code == kStatusAboveMaximum || code == kStatusDatesChanged;
}

} // namespace ktr::engine
