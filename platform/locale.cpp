#include "platform/locale.h"

#include "platform/backend.h"

namespace ktr::platform {
namespace {

std::optional<LocaleInfo>& slot() {
    static std::optional<LocaleInfo> info;
    return info;
}

uint32_t g_generation = 0;

} // namespace

LocaleInfo us_locale() { return LocaleInfo{}; }

LocaleInfo british_locale() {
    LocaleInfo l;
    l.short_date_pattern = "dd/MM/yyyy";
    l.long_date_pattern = "dd MMMM yyyy";
    l.long_time_pattern = "HH:mm:ss";
    l.am = "am";
    l.pm = "pm";
    return l;
}

LocaleInfo iso_locale() {
    LocaleInfo l;
    l.short_date_pattern = "yyyy-MM-dd";
    l.long_date_pattern = "dddd, yyyy MMMM dd";
    l.date_separator = "-";
    l.long_time_pattern = "HH:mm:ss";
    return l;
}

const LocaleInfo& current_locale() {
    auto& info = slot();
    if (!info) {
        const auto system = backend::read_system_locale();
        info = system ? *system : us_locale();
    }
    return *info;
}

void set_locale(const LocaleInfo& info) {
    slot() = info;
    ++g_generation;
}

uint32_t locale_generation() { return g_generation; }

DateOrder short_date_order(const LocaleInfo& info) {
    bool quoted = false;
    for (char c : info.short_date_pattern) {
        if (c == '\'') quoted = !quoted;
        if (quoted) continue;
        if (c == 'M' || c == 'm') return DateOrder::MonthFirst;
        if (c == 'd' || c == 'D') return DateOrder::DayFirst;
        if (c == 'y' || c == 'Y') return DateOrder::YearFirst;
    }
    return DateOrder::MonthFirst;
}

} // namespace ktr::platform
