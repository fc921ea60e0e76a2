// The runtime's Format pictures for numbers and dates, in one place. Every picture the module uses is
// supported; see the tests for the full list.
#pragma once

#include <string>
#include <string_view>

namespace ktr::platform {

// Number pictures: "0" a required digit, "#" an optional digit, "." the decimal point (always written),
// rounded to the last placeholder, halves away from zero. Examples: "#.#" of 12 gives "12.",
// "#.00#" of 0.5 gives ".50", ".###" of 0.045 gives ".045", "0.0##", "00#" of 5 gives "005", "0#".
// A negative value gets a leading "-" (unless it rounds to zero).
std::string format_number(double value, std::string_view picture);

// Date pictures: "mm/dd/yy hh:nn", "mm/dd/yy hh:nn:ss", "mm-dd-yy hh:nn:ss", "yy-mm-dd", "hh:nn:ss",
// "hh:mm:ss" ("mm" after an hour means minutes), "mm-dd hh:nn:ss", "mmm", "mmmm", "d", "dd", "ddd", "dddd",
// "yyyy", "General Date", "Long Date", "Short Date", "Long Time", "Short Time". Letters are case-insensitive
// as in the runtime; other characters are copied. "General Date" leaves out the time at midnight and the
// date for values below 1 (a time alone), using the locale's short date and long time patterns.
std::string format_date(double date, std::string_view picture);

} // namespace ktr::platform
