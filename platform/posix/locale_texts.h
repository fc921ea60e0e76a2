// The locale's texts as the C library gives them, and the conventions made of them.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "platform/locale.h"

namespace ktr::platform {

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
// Conventions from those texts: the patterns turned into the d/M/y/h/H/m/s/tt letters of LocaleInfo, a long
// date pattern in the same day/month order, the separators taken from the patterns.
LocaleInfo locale_from_texts(const LocaleTexts& texts);
// The environment's LC_TIME texts; nothing for the C/POSIX locale or when it cannot be loaded.
std::optional<LocaleTexts> read_system_locale_texts();

} // namespace ktr::platform
