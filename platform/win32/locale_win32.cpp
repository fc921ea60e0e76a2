// The user's date and time conventions, or a named locale's, through GetLocaleInfoEx. The system's pictures already use the
// letters of LocaleInfo (d, M, y, h, H, m, s, tt, quoted literals), so they are taken as they are.
#include <windows.h>

#include <array>
#include <string>

#include "platform/backend.h"
#include "platform/win32/locale_names.h"
#include "platform/win32/win32_support.h"

namespace ktr::platform {
namespace {

std::string locale_text(const wchar_t* locale, LCTYPE item) {
    wchar_t buf[256] = {};
    const int n = GetLocaleInfoEx(locale, item, buf, static_cast<int>(std::size(buf)));
    if (n <= 1) return {};
    return to_utf8(std::wstring_view(buf, static_cast<size_t>(n - 1)));
}

void take_if_set(std::string& to, const wchar_t* locale, LCTYPE item) {
    if (std::string text = locale_text(locale, item); !text.empty()) to = std::move(text);
}

// Names are taken only as a complete set: a partial one would mix languages. `first` is the item of the
// first name; the system numbers the others after it.
template <size_t N>
void take_names(std::array<std::string, N>& to, const wchar_t* locale, LCTYPE first, size_t first_index = 0) {
    std::array<std::string, N> from;
    for (size_t i = 0; i < N; ++i) {
        from[(first_index + i) % N] = locale_text(locale, first + static_cast<LCTYPE>(i));
        if (from[(first_index + i) % N].empty()) return;
    }
    to = from;
}

// Whether a picture shows the AM/PM marker (a 't' outside quoted literals).
bool shows_marker(const std::string& picture) {
    bool quoted = false;
    for (const char c : picture) {
        if (c == '\'') quoted = !quoted;
        else if (c == 't' && !quoted) return true;
    }
    return false;
}

} // namespace

std::optional<LocaleInfo> locale_conventions(const wchar_t* locale) {
    LocaleInfo l;
    const std::string short_date = locale_text(locale, LOCALE_SSHORTDATE);
    if (short_date.empty()) return std::nullopt;  // no such locale
    l.short_date_pattern = short_date;
    take_if_set(l.long_date_pattern, locale, LOCALE_SLONGDATE);
    take_if_set(l.long_time_pattern, locale, LOCALE_STIMEFORMAT);
    take_if_set(l.date_separator, locale, LOCALE_SDATE);
    take_if_set(l.time_separator, locale, LOCALE_STIME);
    // A 24-hour locale has no markers; they are empty rather than the defaults' AM and PM.
    l.am = locale_text(locale, LOCALE_S1159);
    l.pm = locale_text(locale, LOCALE_S2359);
    // A 12-hour picture needs both markers; without them the hour would be ambiguous.
    if (shows_marker(l.long_time_pattern) && (l.am.empty() || l.pm.empty())) l.long_time_pattern = "HH:mm:ss";
    take_names(l.month_names, locale, LOCALE_SMONTHNAME1);
    take_names(l.month_abbrevs, locale, LOCALE_SABBREVMONTHNAME1);
    // The system's weeks start on Monday, LocaleInfo's on Sunday.
    take_names(l.day_names, locale, LOCALE_SDAYNAME1, 1);
    take_names(l.day_abbrevs, locale, LOCALE_SABBREVDAYNAME1, 1);
    return l;
}

std::optional<LocaleInfo> backend::read_system_locale() { return locale_conventions(LOCALE_NAME_USER_DEFAULT); }

} // namespace ktr::platform
