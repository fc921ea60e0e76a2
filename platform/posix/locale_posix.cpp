// The environment's LC_TIME conventions through nl_langinfo_l, without touching the process's own locale,
// turned from the C library's strftime-style texts into the conventions of LocaleInfo.
#include <langinfo.h>
#include <locale.h>

#include <cstdlib>
#include <string>

#include "platform/backend.h"
#include "platform/posix/locale_texts.h"

namespace ktr::platform {
namespace {

// The locale name the environment chooses for LC_TIME, as setlocale would find it.
std::string time_locale_name() {
    for (const char* var : {"LC_ALL", "LC_TIME", "LANG"}) {
        const char* v = std::getenv(var);
        if (v && *v) return v;
    }
    return "C";
}

bool is_c_locale(const std::string& name) {
    return name == "C" || name == "POSIX" || name.rfind("C.", 0) == 0;
}

bool is_pattern_letter(char c) {
    return c == 'd' || c == 'M' || c == 'y' || c == 'h' || c == 'H' || c == 'm' || c == 's' || c == 't' || c == 'g';
}

// One strftime pattern in the pattern letters of LocaleInfo. Fields no date pattern needs are left out.
std::string translate(const std::string& fmt, const std::string& ampm_fmt, int depth = 0) {
    std::string out;
    for (size_t i = 0; i < fmt.size(); ++i) {
        const char c = fmt[i];
        if (c != '%') {
            const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
            if (letter) out += std::string("'") + c + "'";
            else out += c;
            continue;
        }
        if (++i >= fmt.size()) break;
        bool no_pad = false;
        while (i < fmt.size() && (fmt[i] == '-' || fmt[i] == '_' || fmt[i] == '0' || fmt[i] == '^' ||
                                  fmt[i] == '#' || fmt[i] == 'E' || fmt[i] == 'O')) {
            no_pad = no_pad || fmt[i] == '-';
            ++i;
        }
        if (i >= fmt.size()) break;
        switch (fmt[i]) {
        case 'd': out += no_pad ? "d" : "dd"; break;
        case 'e': out += "d"; break;
        case 'm': out += no_pad ? "M" : "MM"; break;
        case 'y': out += "yy"; break;
        case 'Y': out += "yyyy"; break;
        case 'b':
        case 'h': out += "MMM"; break;
        case 'B': out += "MMMM"; break;
        case 'a': out += "ddd"; break;
        case 'A': out += "dddd"; break;
        case 'D': out += "MM/dd/yy"; break;
        case 'F': out += "yyyy-MM-dd"; break;
        case 'H': out += no_pad ? "H" : "HH"; break;
        case 'k': out += "H"; break;
        case 'I': out += no_pad ? "h" : "hh"; break;
        case 'l': out += "h"; break;
        case 'M': out += "mm"; break;
        case 'S': out += "ss"; break;
        case 'p':
        case 'P': out += "tt"; break;
        case 'T': out += "HH:mm:ss"; break;
        case 'R': out += "HH:mm"; break;
        case 'r':
            out += depth == 0 && !ampm_fmt.empty() ? translate(ampm_fmt, ampm_fmt, depth + 1) : "hh:mm:ss tt";
            break;
        case 'n':
        case 't': out += ' '; break;
        case '%': out += '%'; break;
        default: break; // zone names, week numbers and the like have no place in these patterns
        }
    }
    const size_t b = out.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    return out.substr(b, out.find_last_not_of(' ') - b + 1);
}

// The first run of characters between two fields, blanks and commas aside (a multi-byte character stays
// whole).
std::string separator_of(const std::string& pattern, const std::string& fallback) {
    std::string sep;
    bool quoted = false;
    for (char c : pattern) {
        if (c == '\'') {
            quoted = !quoted;
            continue;
        }
        const bool field = !quoted && is_pattern_letter(c);
        if (field && !sep.empty()) return sep;
        if (!field && c != ' ' && c != ',') sep += c;
    }
    return fallback;
}

template <size_t N>
void take_names(std::array<std::string, N>& to, const std::array<std::string, N>& from) {
    for (const auto& name : from)
        if (name.empty()) return; // an incomplete set would mix languages
    to = from;
}

} // namespace

LocaleInfo locale_from_texts(const LocaleTexts& texts) {
    LocaleInfo l;
    const std::string date = translate(texts.date_format, texts.time_format_ampm);
    if (!date.empty()) l.short_date_pattern = date;
    std::string time = translate(texts.time_format, texts.time_format_ampm);
    // A 12-hour pattern needs the markers; without them the hour would be ambiguous.
    if (time.find('t') != std::string::npos && (texts.am.empty() || texts.pm.empty())) time = "HH:mm:ss";
    if (!time.empty()) l.long_time_pattern = time;
    l.date_separator = separator_of(l.short_date_pattern, "/");
    l.time_separator = separator_of(l.long_time_pattern, ":");
    switch (short_date_order(l)) {
    case DateOrder::MonthFirst: l.long_date_pattern = "dddd, MMMM d, yyyy"; break;
    case DateOrder::DayFirst: l.long_date_pattern = "dddd, d MMMM yyyy"; break;
    case DateOrder::YearFirst: l.long_date_pattern = "dddd, yyyy MMMM d"; break;
    }
    l.am = texts.am;
    l.pm = texts.pm;
    take_names(l.month_names, texts.months);
    take_names(l.month_abbrevs, texts.month_abbrevs);
    take_names(l.day_names, texts.days);
    take_names(l.day_abbrevs, texts.day_abbrevs);
    return l;
}

std::optional<LocaleTexts> read_system_locale_texts() {
    if (is_c_locale(time_locale_name())) return std::nullopt;
    locale_t loc = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
    if (loc == static_cast<locale_t>(nullptr)) return std::nullopt;
    auto text = [loc](nl_item item) {
        const char* s = nl_langinfo_l(item, loc);
        return std::string(s ? s : "");
    };
    LocaleTexts t;
    t.date_format = text(D_FMT);
    t.time_format = text(T_FMT);
    t.time_format_ampm = text(T_FMT_AMPM);
    t.am = text(AM_STR);
    t.pm = text(PM_STR);
    static const nl_item kMonths[12] = {MON_1, MON_2, MON_3, MON_4,  MON_5,  MON_6,
                                        MON_7, MON_8, MON_9, MON_10, MON_11, MON_12};
    static const nl_item kAbMonths[12] = {ABMON_1, ABMON_2, ABMON_3, ABMON_4,  ABMON_5,  ABMON_6,
                                          ABMON_7, ABMON_8, ABMON_9, ABMON_10, ABMON_11, ABMON_12};
    static const nl_item kDays[7] = {DAY_1, DAY_2, DAY_3, DAY_4, DAY_5, DAY_6, DAY_7};
    static const nl_item kAbDays[7] = {ABDAY_1, ABDAY_2, ABDAY_3, ABDAY_4, ABDAY_5, ABDAY_6, ABDAY_7};
    for (size_t i = 0; i < 12; ++i) {
        t.months[i] = text(kMonths[i]);
        t.month_abbrevs[i] = text(kAbMonths[i]);
    }
    for (size_t i = 0; i < 7; ++i) {
        t.days[i] = text(kDays[i]);
        t.day_abbrevs[i] = text(kAbDays[i]);
    }
    freelocale(loc);
    return t;
}

std::optional<LocaleInfo> backend::read_system_locale() {
    const auto texts = read_system_locale_texts();
    if (!texts) return std::nullopt;
    return locale_from_texts(*texts);
}

} // namespace ktr::platform
