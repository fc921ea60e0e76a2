// The locale's date and time conventions, read once from LC_TIME. Where the environment gives only the
// C/POSIX locale, the United States English conventions apply.
#pragma once

#include <array>
#include <optional>
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

// The United States English conventions (also what the C/POSIX locale gives).
LocaleInfo us_locale();
// British conventions (dd/MM/yyyy, 24-hour time) and ISO conventions (yyyy-MM-dd), for tests and tools.
LocaleInfo british_locale();
LocaleInfo iso_locale();

// The process's conventions: read from the environment's LC_TIME on first use.
const LocaleInfo& current_locale();
// Replaces the process's conventions (tests; a program that wants fixed conventions).
void set_locale(const LocaleInfo& info);

// Which field the short date pattern starts with (the first of d, M, y), the order numeric dates are read in.
enum class DateOrder { MonthFirst, DayFirst, YearFirst };
DateOrder short_date_order(const LocaleInfo& info);

// The locale's date and time texts as the C library gives them (strftime-style patterns such as "%d.%m.%Y",
// names in the locale's own spelling).
struct LocaleTexts {
    std::string date_format;      // D_FMT
    std::string time_format;      // T_FMT
    std::string time_format_ampm; // T_FMT_AMPM (what "%r" stands for)
    std::string am, pm;
    std::array<std::string, 12> months, month_abbrevs;
    std::array<std::string, 7> days, day_abbrevs;
};
// Conventions from those texts: the patterns turned into the d/M/y/h/H/m/s/tt letters used above, a long
// date pattern in the same day/month order, the separators taken from the patterns.
LocaleInfo locale_from_texts(const LocaleTexts& texts);
// The environment's LC_TIME texts; nothing for the C/POSIX locale or when it cannot be loaded.
std::optional<LocaleTexts> read_system_locale_texts();

} // namespace ktr::platform
