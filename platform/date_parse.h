// Date recognition: whether a text is a date, and which value it is, from one parser.
#pragma once

#include <optional>
#include <string_view>

namespace ktr::platform {

// Recognises a date and/or time text as the runtime's CDate/IsDate do under the current locale:
// numeric dates in the locale's short date order (with "/", "-", "." or blank separators), two- and
// four-digit years (two-digit years: 00-29 -> 2000-2029, 30-99 -> 1930-1999), ISO dates (yyyy-mm-dd),
// month names and abbreviations in any position, a time alone (value below 1), times with seconds and
// 12-hour markers (AM/PM, A/P). Returns nothing for text that is not a date; never throws.
std::optional<double> parse_date(std::string_view text);

inline bool is_date(std::string_view text) { return parse_date(text).has_value(); }

} // namespace ktr::platform
