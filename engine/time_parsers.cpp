#include "engine/time_parsers.h"

#include <cfloat>
#include <cmath>
#include <optional>
#include <vector>

#include "diag/debug_log.h"
#include "platform/clock.h"
#include "platform/convert.h"
#include "platform/date_parse.h"
#include "platform/format.h"

namespace ktr::engine {
namespace {

std::optional<float> to_single(double v) {
    if (!std::isfinite(v) || std::fabs(v) > FLT_MAX) return std::nullopt;
    return static_cast<float>(v);
}

std::optional<int16_t> small_field(const std::string& text) { return platform::to_int16(platform::leading_number(text)); }

std::optional<float> real_field(const std::string& text) {
    const auto v = platform::text_to_number(text);
    return v ? to_single(*v) : std::nullopt;
}

// The received elements, each read step by step: a step whose element is missing or does not convert
// is traced and skipped, so a short string leaves the later properties as they were.
class Elements {
public:
    Elements(std::string_view text, const char* error_text) : e_(platform::split_blanks(text)), error_(error_text) {
        KTR_TRACE(dump(), true);
        KTR_TRACE("_");
    }

    // Every element as "[k]_text_ ", for the trace.
    std::string dump() const {
        std::string text;
        for (size_t k = 0; k < e_.size(); ++k) text += "[" + std::to_string(k) + "]_" + diag::escaped(e_[k]) + "_ ";
        return text;
    }

    size_t size() const { return e_.size(); }
    // Element k, or an empty text when the string is shorter.
    const std::string& at_or_empty(size_t k) const { return k < e_.size() ? e_[k] : empty_; }

    // Element k (traced as a parse error when missing).
    const std::string* get(size_t k) const {
        if (k < e_.size()) return &e_[k];
        failed();
        return nullptr;
    }

    // Converts element k and stores it; a missing or unconvertible element is traced and leaves the target.
    template <class T, class Convert> void read(size_t k, T& target, Convert convert) const {
        const std::string* text = get(k);
        if (!text) return;
        if (const auto v = convert(*text)) target = *v;
        else failed();
    }
    void read_text(size_t k, std::string& target) const {
        read(k, target, [](const std::string& t) { return std::optional<std::string>(t); });
    }

    void failed() const {
        KTR_TRACE(error_);
    }

private:
    std::vector<std::string> e_;
    const char* error_;
    std::string empty_;
};

bool is_numeric(std::string_view text) { return platform::text_to_number(text).has_value(); }

// A line whose eighth element is the on-time marker has no Julian-day field in front.
bool lacks_julian_days(const Elements& e) {
    const std::string& marker = e.at_or_empty(7);
    return marker == "#" || marker == "*";
}

void read_julian_days(const Elements& e, ServerReading& r) {
    e.read(0, r.julian_days, [](const std::string& t) { return platform::to_int32(*platform::text_to_number(t)); });
}

// The first element of a line with a Julian-day field: a number, or one of the console's and servers'
// own markers, which make the short form. False when it is neither.
bool read_first_element(const Elements& e, ServerReading& r, bool& short_form) {
    const std::string& first = e.at_or_empty(0);
    const auto console_form = [&](const char* cmd) {
        short_form = true;
        r.health = 0;
        r.advance = 0;
        if (cmd) r.command = cmd;
    };
    if (first == "Server:" || first == "tovanisoft:") console_form(nullptr);
    else if (first.starts_with("S+")) console_form("S");
    else if (first.starts_with("F+")) console_form("F");
    else if (first.starts_with("OK-")) console_form(nullptr);
    else if (is_numeric(first)) read_julian_days(e, r);
    else return false;
    return true;
}

// The fraction of a short form: milliseconds after a set or force, else a decimal tail of the time.
void read_short_form_fraction(const Elements& e, size_t i, ServerReading& r) {
    if (r.command == "S" || r.command == "F") {
        e.read(i + 2, r.fraction, [](const std::string& t) {
            const auto ms = platform::text_to_number(t);
            return ms ? to_single(*ms / 1000) : std::nullopt;
        });
    } else if (const size_t dot = r.time.find('.', 1); dot != std::string::npos) {
        if (const auto frac = to_single(platform::leading_number(std::string_view(r.time).substr(dot))))
            r.fraction = *frac;
        else
            e.failed();
        r.time.resize(dot);
        KTR_TRACE("Time: _" + r.time + "_ frac: " + platform::single_to_text(r.fraction));
    }
}

} // namespace

Decoded NIST_parse_string(std::string_view sNIST, ServerReading r) {
    const Elements e(sNIST, "parse error of NIST string");
    size_t i = 0;
    bool short_form = false;
    if (lacks_julian_days(e)) {
        KTR_TRACE("NIST parse string - no Julian days.");
        r.julian_days = 0;
    } else {
        if (!read_first_element(e, r, short_form)) return {false, std::move(r)};
        i = 1;
    }

    e.read_text(i, r.date);
    e.read_text(i + 1, r.time);
    if (short_form) {
        read_short_form_fraction(e, i, r);
    } else {
        e.read(i + 2, r.dst, small_field);
        e.read(i + 3, r.leap, small_field);
        e.read(i + 4, r.health, small_field);
        e.read(i + 5, r.advance, real_field);
        e.read_text(i + 6, r.label);
        r.fraction = 0.5f;
    }
    return {true, std::move(r)};
}

Decoded ACTS_parse_string(std::string_view sNIST, ServerReading r) {
    KTR_TRACE("ACTS:");
    const Elements e(sNIST, "parse error of ACTS string");
    size_t i = 0;
    if (lacks_julian_days(e)) {
        KTR_TRACE("ACTS parse string - no Julian days.");
        r.julian_days = 0;
    } else {
        const std::string& first = e.at_or_empty(0);
        if (first == "Server:") {
            r.health = 0;
            r.advance = 0;
        } else if (is_numeric(first)) {
            read_julian_days(e, r);
        } else {
            return {false, std::move(r)};
        }
        i = 1;
    }

    e.read_text(i, r.date);
    e.read_text(i + 1, r.time);
    e.read(i + 2, r.dst, small_field);
    e.read(i + 3, r.leap, small_field);
    e.get(i + 4);  // the DUT1 correction is not used
    r.health = 0;
    e.read(i + 5, r.advance, real_field);
    e.read_text(i + 6, r.label);
    return {true, std::move(r)};
}

Decoded Daytime_parse_string(std::string_view sDaytime, ServerReading r) {
    const Elements e(sDaytime, "parse error of Daytime string");
    std::string month, day, year;
    size_t i = 2;
    e.read_text(1, month);
    e.read_text(2, day);
    if (day.empty()) {
        // Single-digit days follow two blanks.
        e.read_text(3, day);
        i = 3;
    }
    e.read_text(i + 1, r.time);
    r.fraction = 0.5f;

    if (const std::string* next = e.get(i + 2)) {
        // A year ends the line (possibly with its line end); otherwise a zone word comes first.
        const std::string bare = next->substr(0, next->find_last_not_of("\r\n") + 1);
        if (is_numeric(bare)) year = *next;
        else e.read_text(i + 3, year);
    }
    if (year.size() > 4) {
        KTR_TRACE("Trimming year:_" + year + "_");
        year.resize(4);
    }

    const std::string local_month = platform::format_date(platform::now_local(), "mmm");
    const std::string candidates[] = {
        month + " " + day + ", " + year,
        day + " " + month + " " + year,
        day + " " + local_month + " " + year,
        local_month + " " + day + ", " + year,
    };
    for (const std::string& candidate : candidates) {
        if (platform::is_date(candidate)) {
            r.date = candidate;
            return {true, std::move(r)};
        }
    }
    KTR_TRACE("Date field error in Daytime string");
    return {false, std::move(r)};
}

} // namespace ktr::engine
