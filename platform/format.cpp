#include "platform/format.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "platform/convert.h"
#include "platform/date_value.h"
#include "platform/locale.h"
#include "platform/text.h"

namespace ktr::platform {
namespace {

bool istarts_with(std::string_view text, size_t at, std::string_view prefix) {
    return text.size() - at >= prefix.size() && equals_no_case(text.substr(at, prefix.size()), prefix);
}

// ---- numbers ---------------------------------------------------------------------------------------------

// Copies a literal part of a number picture: backslash escapes one character, double quotes enclose text.
std::string picture_literal(std::string_view part) {
    std::string out;
    for (size_t i = 0; i < part.size(); ++i) {
        if (part[i] == '\\' && i + 1 < part.size()) {
            out += part[++i];
        } else if (part[i] == '"') {
            const size_t end = part.find('"', i + 1);
            const size_t stop = end == std::string_view::npos ? part.size() : end;
            out += part.substr(i + 1, stop - i - 1);
            i = stop;
        } else {
            out += part[i];
        }
    }
    return out;
}

bool is_number_placeholder(char c) { return c == '0' || c == '#' || c == '.' || c == ','; }

// Integer and fraction digits of |value| rounded to `decimals` places, halves away from zero. The value is
// first taken to 15 significant digits, as the runtime does, so 2.675 is rounded as the decimal it shows.
void decimal_digits(double value, int decimals, std::string& int_digits, std::string& frac_digits) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14e", std::fabs(value));
    std::string digits;
    const char* p = buf;
    for (; *p && *p != 'e'; ++p)
        if (*p != '.') digits += *p;
    const int exp10 = *p ? std::atoi(p + 1) : 0;
    int point = exp10 + 1; // digits before the decimal point
    if (value == 0) {
        digits = "0";
        point = 1;
    }
    // Keep the digits up to the last wanted decimal; round on the first dropped one.
    const long keep = static_cast<long>(point) + decimals;
    if (keep < 0) {
        digits = "0";
        point = 1;
    } else {
        const bool round_up = keep < static_cast<long>(digits.size()) && digits[static_cast<size_t>(keep)] >= '5';
        if (keep < static_cast<long>(digits.size())) digits.resize(static_cast<size_t>(keep));
        if (round_up) {
            long i = static_cast<long>(digits.size()) - 1;
            for (; i >= 0; --i) {
                if (digits[static_cast<size_t>(i)] == '9') {
                    digits[static_cast<size_t>(i)] = '0';
                } else {
                    ++digits[static_cast<size_t>(i)];
                    break;
                }
            }
            if (i < 0) {
                digits.insert(digits.begin(), '1');
                ++point;
            }
        }
    }
    // Lay the digits out around the point.
    if (point <= 0) {
        int_digits.clear();
        frac_digits = std::string(static_cast<size_t>(-point), '0') + digits;
    } else if (static_cast<size_t>(point) >= digits.size()) {
        int_digits = digits + std::string(static_cast<size_t>(point) - digits.size(), '0');
        frac_digits.clear();
    } else {
        int_digits = digits.substr(0, static_cast<size_t>(point));
        frac_digits = digits.substr(static_cast<size_t>(point));
    }
    if (frac_digits.size() < static_cast<size_t>(decimals)) frac_digits.append(static_cast<size_t>(decimals) - frac_digits.size(), '0');
    frac_digits.resize(static_cast<size_t>(decimals));
    const size_t nz = int_digits.find_first_not_of('0');
    int_digits = nz == std::string::npos ? std::string() : int_digits.substr(nz);
}

// ---- dates -----------------------------------------------------------------------------------------------

std::string two(int v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}

std::string four(int v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d", v);
    return buf;
}

int hour12(int h) { return h % 12 == 0 ? 12 : h % 12; }

// Renders one of the locale's patterns (letters as in the system's pattern strings: d, M, y, h, H, m, s, t,
// with quoted literals).
std::string render_locale_pattern(const DateParts& p, std::string_view pattern, const LocaleInfo& loc) {
    std::string out;
    for (size_t i = 0; i < pattern.size();) {
        const char c = pattern[i];
        size_t n = 1;
        while (i + n < pattern.size() && pattern[i + n] == c) ++n;
        switch (c) {
        case 'd':
            if (n == 1) out += std::to_string(p.day);
            else if (n == 2) out += two(p.day);
            else if (n == 3) out += loc.day_abbrevs[static_cast<size_t>(p.day_of_week)];
            else out += loc.day_names[static_cast<size_t>(p.day_of_week)];
            break;
        case 'M':
            if (n == 1) out += std::to_string(p.month);
            else if (n == 2) out += two(p.month);
            else if (n == 3) out += loc.month_abbrevs[static_cast<size_t>(p.month - 1)];
            else out += loc.month_names[static_cast<size_t>(p.month - 1)];
            break;
        case 'y':
            if (n == 1) out += std::to_string(p.year % 100);
            else if (n == 2) out += two(p.year % 100);
            else out += four(p.year);
            break;
        case 'h': out += n == 1 ? std::to_string(hour12(p.hour)) : two(hour12(p.hour)); break;
        case 'H': out += n == 1 ? std::to_string(p.hour) : two(p.hour); break;
        case 'm': out += n == 1 ? std::to_string(p.minute) : two(p.minute); break;
        case 's': out += n == 1 ? std::to_string(p.second) : two(p.second); break;
        case 't': {
            const std::string& mark = p.hour < 12 ? loc.am : loc.pm;
            out += n == 1 ? mark.substr(0, 1) : mark;
            break;
        }
        case 'g': break; // era: none in the Gregorian calendar
        case '\'': {
            const size_t end = pattern.find('\'', i + 1);
            const size_t stop = end == std::string_view::npos ? pattern.size() : end;
            out += pattern.substr(i + 1, stop - i - 1);
            i = stop + 1;
            continue;
        }
        default: out.append(n, c); break;
        }
        i += n;
    }
    // A time pattern whose marker is empty (a 24-hour locale) leaves no stray blank.
    const size_t b = out.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    return out.substr(b, out.find_last_not_of(' ') - b + 1);
}

std::string general_date(double date, const DateParts& p, const LocaleInfo& loc) {
    const bool midnight = p.hour == 0 && p.minute == 0 && p.second == 0;
    if (std::fabs(date) < 1.0) return render_locale_pattern(p, loc.long_time_pattern, loc);
    if (midnight) return render_locale_pattern(p, loc.short_date_pattern, loc);
    return render_locale_pattern(p, loc.short_date_pattern, loc) + " " +
           render_locale_pattern(p, loc.long_time_pattern, loc);
}

int day_of_year(const DateParts& p) { return static_cast<int>(date_serial(p.year, p.month, p.day) - date_serial(p.year, 1, 1)) + 1; }

// Week of the year with Sunday as first day and the week holding 1 January as week 1.
int week_of_year(const DateParts& p) {
    const double jan1 = date_serial(p.year, 1, 1);
    const int jan1_dow = date_to_parts(jan1).day_of_week;
    return (day_of_year(p) - 1 + jan1_dow) / 7 + 1;
}

// Literal text, an escaped character or a 12-hour marker at i: its text goes to out. The characters it
// took; 0 when a field letter stands at i.
size_t render_literal(std::string_view pic, size_t i, const DateParts& p, const LocaleInfo& loc, std::string& out) {
    if (pic[i] == '"') {
        const size_t end = pic.find('"', i + 1);
        const size_t stop = end == std::string_view::npos ? pic.size() : end;
        out += pic.substr(i + 1, stop - i - 1);
        return stop + 1 - i;
    }
    if (pic[i] == '\\') {
        if (i + 1 < pic.size()) out += pic[i + 1];
        return 2;
    }
    const bool upper = pic[i] == 'A';
    if (istarts_with(pic, i, "am/pm")) {
        out += p.hour < 12 ? (upper ? "AM" : "am") : (upper ? "PM" : "pm");
        return 5;
    }
    if (istarts_with(pic, i, "a/p")) {
        out += p.hour < 12 ? (upper ? "A" : "a") : (upper ? "P" : "p");
        return 3;
    }
    if (istarts_with(pic, i, "ampm")) {
        out += p.hour < 12 ? loc.am : loc.pm;
        return 4;
    }
    return 0;
}

// A picture being rendered: the parts it shows and what it has written so far.
struct PictureRender {
    double date;
    const DateParts& p;
    const LocaleInfo& loc;
    int hour;                 // on the 12-hour clock when the picture has a marker
    bool after_hour = false;  // "m" right after an hour means minutes
    std::string out;
};

// A run of n day, month, year, week, quarter or whole-date letters c; false for any other letter.
bool render_date_field(char c, size_t n, PictureRender& r) {
    const DateParts& p = r.p;
    std::string& out = r.out;
    switch (c) {
    case 'd':
        if (n == 1) out += std::to_string(p.day);
        else if (n == 2) out += two(p.day);
        else if (n == 3) out += r.loc.day_abbrevs[static_cast<size_t>(p.day_of_week)];
        else if (n == 4) out += r.loc.day_names[static_cast<size_t>(p.day_of_week)];
        else if (n == 5) out += render_locale_pattern(p, r.loc.short_date_pattern, r.loc);
        else out += render_locale_pattern(p, r.loc.long_date_pattern, r.loc);
        break;
    case 'm':
        if (n <= 2 && r.after_hour) out += n == 1 ? std::to_string(p.minute) : two(p.minute);
        else if (n == 1) out += std::to_string(p.month);
        else if (n == 2) out += two(p.month);
        else if (n == 3) out += r.loc.month_abbrevs[static_cast<size_t>(p.month - 1)];
        else out += r.loc.month_names[static_cast<size_t>(p.month - 1)];
        break;
    case 'y':
        if (n == 1) out += std::to_string(day_of_year(p));
        else if (n < 4) out += two(p.year % 100);
        else out += four(p.year);
        break;
    case 'w': out += std::to_string(n == 1 ? p.day_of_week + 1 : week_of_year(p)); break;
    case 'q': out += std::to_string((p.month - 1) / 3 + 1); break;
    case 'c': out += general_date(r.date, p, r.loc); break;
    default: return false;
    }
    r.after_hour = false;
    return true;
}

// A run of time letters c, separators or other characters (the run's own text).
void render_time_field(char c, std::string_view run, PictureRender& r) {
    const DateParts& p = r.p;
    const size_t n = run.size();
    std::string& out = r.out;
    switch (c) {
    case 'h':
        out += n == 1 ? std::to_string(r.hour) : two(r.hour);
        r.after_hour = true;
        break;
    case 'n':
        out += n == 1 ? std::to_string(p.minute) : two(p.minute);
        r.after_hour = false;
        break;
    case 's':
        out += n == 1 ? std::to_string(p.second) : two(p.second);
        r.after_hour = false;
        break;
    case 't':
        if (n >= 5) {
            out += render_locale_pattern(p, r.loc.long_time_pattern, r.loc);
            r.after_hour = false;
        } else {
            out.append(n, run[0]);
        }
        break;
    case '/': out += r.loc.date_separator; break;
    case ':': out += r.loc.time_separator; break;
    default: out += run; break;
    }
}

std::string render_picture(double date, const DateParts& p, std::string_view pic, const LocaleInfo& loc) {
    // A picture with a marker shows the hour on the 12-hour clock.
    bool twelve_hour = false;
    for (size_t i = 0; i < pic.size(); ++i)
        twelve_hour = twelve_hour || istarts_with(pic, i, "am/pm") || istarts_with(pic, i, "a/p") ||
                      istarts_with(pic, i, "ampm");
    PictureRender r{date, p, loc, twelve_hour ? hour12(p.hour) : p.hour, false, {}};
    for (size_t i = 0; i < pic.size();) {
        if (const size_t taken = render_literal(pic, i, p, loc, r.out)) {
            i += taken;
            continue;
        }
        const char c = lower_char(pic[i]);
        size_t n = 1;
        while (i + n < pic.size() && lower_char(pic[i + n]) == c) ++n;
        if (!render_date_field(c, n, r)) render_time_field(c, pic.substr(i, n), r);
        i += n;
    }
    return r.out;
}

} // namespace

std::string format_number(double value, std::string_view picture) {
    if (!std::isfinite(value) || picture.empty()) return number_to_text(value);
    // The picture: literal prefix, the digit placeholders with an optional point, literal suffix.
    size_t first = 0;
    for (bool quoted = false; first < picture.size(); ++first) {
        if (picture[first] == '"') quoted = !quoted;
        else if (picture[first] == '\\') ++first;
        else if (!quoted && is_number_placeholder(picture[first])) break;
    }
    if (first >= picture.size()) return picture_literal(picture);
    size_t last = first;
    while (last < picture.size() && is_number_placeholder(picture[last])) ++last;
    const std::string_view core = picture.substr(first, last - first);

    const size_t point = core.find('.');
    const std::string_view int_part = core.substr(0, point);
    const std::string_view frac_part = point == std::string_view::npos ? std::string_view() : core.substr(point + 1);
    // Required integer digits run from the first "0" to the point, so "0#" of 7 gives "07".
    int int_places = 0, first_zero = -1;
    bool grouping = false;
    for (char c : int_part) {
        if (c == ',') {
            grouping = int_places > 0;
            continue;
        }
        if (c == '0' && first_zero < 0) first_zero = int_places;
        ++int_places;
    }
    const int min_int = first_zero < 0 ? 0 : int_places - first_zero;
    int decimals = 0, min_frac = 0;
    for (char c : frac_part) {
        if (c != '0' && c != '#') continue;
        ++decimals;
        if (c == '0') min_frac = decimals;
    }

    std::string int_digits, frac_digits;
    decimal_digits(value, decimals, int_digits, frac_digits);
    const bool zero = int_digits.empty() && frac_digits.find_first_not_of('0') == std::string::npos;
    while (frac_digits.size() > static_cast<size_t>(min_frac) && frac_digits.back() == '0') frac_digits.pop_back();
    if (int_digits.size() < static_cast<size_t>(min_int)) int_digits.insert(0, static_cast<size_t>(min_int) - int_digits.size(), '0');
    if (grouping) {
        for (size_t k = int_digits.size(); k > 3; k -= 3) int_digits.insert(k - 3, ",");
    }

    std::string out;
    if (value < 0 && !zero) out += '-';
    out += picture_literal(picture.substr(0, first));
    out += int_digits;
    if (point != std::string_view::npos) out += '.';
    out += frac_digits;
    out += picture_literal(picture.substr(last));
    return out;
}

std::string format_date(double date, std::string_view picture) {
    const LocaleInfo& loc = current_locale();
    DateParts p = date_to_parts(date);
    p.millisecond = 0; // pictures show whole seconds; the milliseconds are dropped, not rounded
    if (picture.empty() || equals_no_case(picture, "General Date")) return general_date(date, p, loc);
    if (equals_no_case(picture, "Long Date")) return render_locale_pattern(p, loc.long_date_pattern, loc);
    if (equals_no_case(picture, "Short Date")) return render_locale_pattern(p, loc.short_date_pattern, loc);
    if (equals_no_case(picture, "Medium Date")) return render_picture(date, p, "dd-mmm-yy", loc);
    if (equals_no_case(picture, "Long Time")) return render_locale_pattern(p, loc.long_time_pattern, loc);
    if (equals_no_case(picture, "Medium Time")) return render_picture(date, p, "hh:nn AM/PM", loc);
    if (equals_no_case(picture, "Short Time")) return render_picture(date, p, "hh:nn", loc);
    return render_picture(date, p, picture, loc);
}

} // namespace ktr::platform
