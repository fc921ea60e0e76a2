// Placeholder until the locale reader lands.
#include "platform/locale.h"

namespace ktr::platform {
namespace {
LocaleInfo& slot() {
    static LocaleInfo info = us_locale();
    return info;
}
} // namespace
LocaleInfo us_locale() { return LocaleInfo{}; }
LocaleInfo british_locale() {
    LocaleInfo l;
    l.short_date_pattern = "dd/MM/yyyy";
    l.long_time_pattern = "HH:mm:ss";
    return l;
}
LocaleInfo iso_locale() {
    LocaleInfo l;
    l.short_date_pattern = "yyyy-MM-dd";
    l.date_separator = "-";
    l.long_time_pattern = "HH:mm:ss";
    return l;
}
const LocaleInfo& current_locale() { return slot(); }
void set_locale(const LocaleInfo& info) { slot() = info; }
} // namespace ktr::platform
