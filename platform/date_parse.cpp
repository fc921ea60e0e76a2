#include "platform/date_parse.h"

#include <array>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/date_value.h"
#include "platform/locale.h"
#include "platform/text.h"

namespace ktr::platform {
namespace {

// English names are understood in every locale, beside the locale's own.
constexpr std::array<std::string_view, 12> kEnglishMonths{"January", "February", "March",     "April",
                                                          "May",     "June",     "July",      "August",
                                                          "September", "October", "November", "December"};
constexpr std::array<std::string_view, 7> kEnglishDays{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                       "Thursday", "Friday", "Saturday"};

std::string_view without_dot(std::string_view name) {
    while (!name.empty() && name.back() == '.') name.remove_suffix(1);
    return name;
}

// A word names a month or day when it is the name, the abbreviation, or a start of the name of at least
// three letters ("Sept").
bool names(std::string_view word, std::string_view full, std::string_view abbrev) {
    full = without_dot(full);
    abbrev = without_dot(abbrev);
    if (!abbrev.empty() && equals_no_case(word, abbrev)) return true;
    if (full.empty()) return false;
    return word.size() >= 3 && word.size() <= full.size() && equals_no_case(word, full.substr(0, word.size()));
}

int month_of(std::string_view word, const LocaleInfo& loc) {
    for (size_t i = 0; i < 12; ++i)
        if (names(word, loc.month_names[i], loc.month_abbrevs[i])) return static_cast<int>(i) + 1;
    for (size_t i = 0; i < 12; ++i)
        if (names(word, kEnglishMonths[i], kEnglishMonths[i].substr(0, 3))) return static_cast<int>(i) + 1;
    return 0;
}

bool is_day_name(std::string_view word, const LocaleInfo& loc) {
    for (size_t i = 0; i < 7; ++i)
        if (names(word, loc.day_names[i], loc.day_abbrevs[i]) ||
            names(word, kEnglishDays[i], kEnglishDays[i].substr(0, 3)))
            return true;
    return false;
}

// 0 none, 1 before noon, 2 after noon.
int marker_of(std::string_view word, const LocaleInfo& loc) {
    if (equals_no_case(word, "AM") || equals_no_case(word, "A") || (!loc.am.empty() && equals_no_case(word, without_dot(loc.am)))) return 1;
    if (equals_no_case(word, "PM") || equals_no_case(word, "P") || (!loc.pm.empty() && equals_no_case(word, without_dot(loc.pm)))) return 2;
    return 0;
}

struct Number {
    int value = 0;
    int digits = 0;
    // Three or more digits, or too large for a day: can only be a year.
    bool year_like() const { return digits >= 3 || value > 31; }
};

int full_year(const Number& n) {
    if (n.digits > 2) return n.value;
    return n.value < 30 ? 2000 + n.value : 1900 + n.value;
}

struct Scan {
    std::vector<Number> numbers; // date numbers in text order
    int month = 0;               // month given by name
    size_t numbers_before_month = 0;
    bool has_time = false;
    int time[3] = {0, 0, 0};
    int marker = 0;
};

bool is_letter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 0x80; }
bool is_separator(char c) { return c == ' ' || c == '\t' || c == '/' || c == '-' || c == '.' || c == ','; }

// Reads digits at i; false when there are none or too many to be a date field.
bool read_number(std::string_view text, size_t& i, Number& n) {
    const size_t start = i;
    long long v = 0;
    while (i < text.size() && is_digit(text[i])) {
        v = v * 10 + (text[i] - '0');
        if (i - start >= 6) return false;
        ++i;
    }
    if (i == start) return false;
    n.value = static_cast<int>(v);
    n.digits = static_cast<int>(i - start);
    return true;
}

bool scan(std::string_view text, const LocaleInfo& loc, Scan& s) {
    bool month_seen = false;
    for (size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (is_separator(c)) {
            ++i;
        } else if (is_digit(c)) {
            Number n;
            if (!read_number(text, i, n)) return false;
            if (i < text.size() && text[i] == ':') {
                // hours:minutes[:seconds]; only one time in a text
                if (s.has_time) return false;
                s.has_time = true;
                s.time[0] = n.value;
                for (int part = 1; part < 3 && i < text.size() && text[i] == ':'; ++part) {
                    ++i;
                    Number t;
                    if (!read_number(text, i, t)) return false;
                    s.time[part] = t.value;
                }
                if (i < text.size() && text[i] == ':') return false;
            } else {
                s.numbers.push_back(n);
            }
        } else if (is_letter(static_cast<unsigned char>(c))) {
            const size_t start = i;
            while (i < text.size() && is_letter(static_cast<unsigned char>(text[i]))) ++i;
            const std::string_view word = text.substr(start, i - start);
            if (const int m = month_of(word, loc)) {
                if (month_seen) return false;
                month_seen = true;
                s.month = m;
                s.numbers_before_month = s.numbers.size();
            } else if (const int mark = marker_of(word, loc)) {
                if (s.marker) return false;
                s.marker = mark;
                // "3 PM": a number right before the marker is the hour when no time was written.
                if (!s.has_time && !s.numbers.empty() && start > 0 && text[start - 1] == ' ' &&
                    s.numbers.size() > (month_seen ? s.numbers_before_month : 0)) {
                    size_t k = start - 1;
                    while (k > 0 && text[k - 1] == ' ') --k;
                    if (k > 0 && is_digit(text[k - 1])) {
                        s.has_time = true;
                        s.time[0] = s.numbers.back().value;
                        s.numbers.pop_back();
                    }
                }
            } else if (!is_day_name(word, loc)) {
                return false; // weekday names are allowed and ignored; other words are not
            }
        } else {
            return false;
        }
    }
    return true;
}

enum class Field { Year, Month, Day };

std::optional<double> try_orders(const std::vector<Number>& n, std::initializer_list<std::array<Field, 3>> orders) {
    for (const auto& order : orders) {
        int y = 0, m = 0, d = 0;
        for (size_t k = 0; k < 3; ++k) {
            switch (order[k]) {
            case Field::Year: y = full_year(n[k]); break;
            case Field::Month: m = n[k].value; break;
            case Field::Day: d = n[k].value; break;
            }
        }
        if (valid_ymd(y, m, d)) return date_serial(y, m, d);
    }
    return std::nullopt;
}

constexpr std::array<Field, 3> kMDY{Field::Month, Field::Day, Field::Year};
constexpr std::array<Field, 3> kDMY{Field::Day, Field::Month, Field::Year};
constexpr std::array<Field, 3> kYMD{Field::Year, Field::Month, Field::Day};

int current_year() { return date_to_parts(now_local()).year; }

std::optional<double> checked(int y, int m, int d) {
    if (!valid_ymd(y, m, d)) return std::nullopt;
    return date_serial(y, m, d);
}

// The day number of the date fields, or nothing when they do not make a date.
std::optional<double> date_of(const Scan& s, DateOrder order) {
    const auto& n = s.numbers;
    if (s.month) {
        if (n.size() == 1) {
            if (n[0].year_like()) return checked(full_year(n[0]), s.month, 1);
            return checked(current_year(), s.month, n[0].value);
        }
        if (n.size() != 2) return std::nullopt;
        if (n[0].year_like() && n[1].year_like()) return std::nullopt;
        if (n[0].year_like()) return checked(full_year(n[0]), s.month, n[1].value);
        return checked(full_year(n[1]), s.month, n[0].value);
    }
    if (n.size() == 2) {
        if (n[0].year_like() && n[1].year_like()) return std::nullopt;
        if (n[0].year_like()) return checked(full_year(n[0]), n[1].value, 1);
        if (n[1].year_like()) return checked(full_year(n[1]), n[0].value, 1);
        // Month and day of this year, in the locale's order, swapped when that order cannot fit.
        const int y = current_year();
        const bool day_first = order == DateOrder::DayFirst;
        const int m = day_first ? n[1].value : n[0].value, d = day_first ? n[0].value : n[1].value;
        if (auto v = checked(y, m, d)) return v;
        return checked(y, d, m);
    }
    if (n.size() != 3) return std::nullopt;
    const bool y0 = n[0].year_like(), y1 = n[1].year_like(), y2 = n[2].year_like();
    if (y0 + y1 + y2 > 1 || y1) return std::nullopt;
    if (y0) return try_orders(n, {kYMD}); // a year in front is always year-month-day
    if (y2) {
        // A year-first locale reads a year at the end in day/month order, the order its own programs
        // write such dates in.
        if (order == DateOrder::MonthFirst) return try_orders(n, {kMDY, kDMY});
        return try_orders(n, {kDMY, kMDY});
    }
    switch (order) {
    case DateOrder::MonthFirst: return try_orders(n, {kMDY, kDMY, kYMD});
    case DateOrder::DayFirst: return try_orders(n, {kDMY, kMDY, kYMD});
    case DateOrder::YearFirst: break;
    }
    return try_orders(n, {kYMD, kMDY, kDMY});
}

std::optional<double> time_of(const Scan& s) {
    int h = s.time[0];
    const int m = s.time[1], sec = s.time[2];
    if (h > 23 || m > 59 || sec > 59) return std::nullopt;
    if (s.marker == 1 && h == 12) h = 0;
    else if (s.marker == 2 && h < 12) h += 12;
    return time_serial(h, m, sec);
}

} // namespace

std::optional<double> parse_date(std::string_view text) {
    const LocaleInfo& loc = current_locale();
    Scan s;
    if (!scan(text, loc, s)) return std::nullopt;
    if (s.marker && !s.has_time) return std::nullopt;
    double t = 0.0;
    if (s.has_time) {
        const auto time = time_of(s);
        if (!time) return std::nullopt;
        t = *time;
    }
    if (s.numbers.empty() && !s.month) {
        if (!s.has_time) return std::nullopt;
        return t; // a time alone
    }
    const auto day = date_of(s, short_date_order(loc));
    if (!day) return std::nullopt;
    // Before the epoch the time counts away from zero, as in every date value.
    return *day < 0 ? *day - t : *day + t;
}

} // namespace ktr::platform
