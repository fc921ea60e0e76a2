// The locale's date and time conventions, read once from the system. Where the system gives none of its
// own (on POSIX only the C locale), the United States English conventions apply.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace ktr::platform {

struct LocaleInfo {
    std::string short_date_pattern = "M/d/yyyy";   // Windows-style pattern letters: d, M, y
    std::string long_date_pattern = "dddd, MMMM d, yyyy";
    std::string long_time_pattern = "h:mm:ss tt";  // h/H, m, s, tt
    std::string date_separator = "/";
    std::string time_separator = ":";
    std::string am = "AM";
    std::string pm = "PM";
    std::array<std::string, 12> month_names{"January", "February", "March",     "April",   "May",      "June",
                                            "July",    "August",   "September", "October", "November", "December"};
    std::array<std::string, 12> month_abbrevs{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::array<std::string, 7> day_names{"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
    std::array<std::string, 7> day_abbrevs{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
};

// The United States English conventions.
LocaleInfo us_locale();
// British conventions (dd/MM/yyyy, 24-hour time) and ISO conventions (yyyy-MM-dd), for tests and tools.
LocaleInfo british_locale();
LocaleInfo iso_locale();

// The process's conventions: read from the environment's LC_TIME on first use.
const LocaleInfo& current_locale();
// Replaces the process's conventions (tests; a program that wants fixed conventions).
void set_locale(const LocaleInfo& info);
// Counts the replacements, so that a text made with the conventions can be kept until they change.
uint32_t locale_generation();

// Which field the short date pattern starts with (the first of d, M, y), the order numeric dates are read in.
enum class DateOrder { MonthFirst, DayFirst, YearFirst };
DateOrder short_date_order(const LocaleInfo& info);

} // namespace ktr::platform
