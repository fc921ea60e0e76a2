// Placeholder until the full picture engine lands.
#include "platform/format.h"

#include <cstdio>

#include "platform/date_value.h"

namespace ktr::platform {

std::string format_number(double value, std::string_view) { return std::to_string(value); }

std::string format_date(double date, std::string_view) {
    const DateParts p = date_to_parts(date);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d-%02d %02d:%02d:%02d", p.month, p.day, p.hour, p.minute, p.second);
    return buf;
}

} // namespace ktr::platform
