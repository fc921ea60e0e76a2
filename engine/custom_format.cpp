#include "engine/custom_format.h"

#include <algorithm>
#include <vector>

#include "diag/debug_log.h"
#include "platform/clock.h"
#include "platform/convert.h"
#include "platform/date_parse.h"
#include "platform/format.h"
#include "platform/text.h"

namespace ktr::engine {
namespace {

using platform::find_no_case;

bool contains_no_case(std::string_view text, std::string_view what) {
    return find_no_case(text, what) != std::string_view::npos;
}

enum class Kind { Delimited, Fixed, Escape, Literal, Bad };

struct Rule {
    Kind kind;
    size_t server_chars = 0;  // fixed: characters taken from the server element
    size_t format_chars = 0;  // fixed: characters taken from the format element
};

Rule fixed(size_t n, size_t m) { return {Kind::Fixed, n, m}; }
Rule fixed(size_t n) { return fixed(n, n); }

Rule classify(std::string_view format) {
    switch (format.front()) {
    case 'd':
        if (contains_no_case(format, "dddd")) return {Kind::Delimited};
        if (contains_no_case(format, "ddd")) return fixed(3);
        if (contains_no_case(format, "dd")) return fixed(2);
        return {Kind::Delimited};
    case 'm':
        if (contains_no_case(format, "mmmm")) return {Kind::Delimited};
        if (contains_no_case(format, "mmm")) return fixed(3);
        if (contains_no_case(format, "mm")) return fixed(2);
        return {Kind::Delimited};
    case 'y':
        if (contains_no_case(format, "yyyy")) return fixed(4);
        if (contains_no_case(format, "yy")) return fixed(2);
        return {Kind::Delimited};
    case 'h': return {Kind::Delimited};
    case 'H': return contains_no_case(format, "Hh") ? fixed(2) : Rule{Kind::Bad};
    case 'N': return contains_no_case(format, "Nn") ? fixed(2) : Rule{Kind::Delimited};
    case 'S': return contains_no_case(format, "Ss") ? fixed(2) : Rule{Kind::Delimited};
    case 'A':
        if (contains_no_case(format, "AM/PM") || contains_no_case(format, "AMPM")) return fixed(2, 2);
        return contains_no_case(format, "A/P") ? fixed(1) : Rule{Kind::Bad};
    case 'a':
        if (contains_no_case(format, "am/pm")) return fixed(2, 2);
        return contains_no_case(format, "a/p") ? fixed(1) : Rule{Kind::Bad};
    case '\\': return {Kind::Escape};
    default: return {Kind::Literal};
    }
}

void drop(std::string_view& text, size_t n) { text.remove_prefix(std::min(n, text.size())); }

// Which value a token fills; nullptr for tokens that are dropped.
struct Fields {
    std::string month, day, year, hour, minute, second, marker;
    std::string* slot(std::string_view token) {
        static constexpr std::string_view months[] = {"m", "mm", "mmm", "mmmm"};
        static constexpr std::string_view markers[] = {"AM/PM", "AMPM", "A/P", "am/pm", "a/p"};
        const auto in = [&](auto& list) { return std::find(std::begin(list), std::end(list), token) != std::end(list); };
        if (in(months)) return &month;
        if (token == "d" || token == "dd") return &day;
        if (token == "yy" || token == "yyyy") return &year;
        if (token == "h" || token == "Hh") return &hour;
        if (token == "N" || token == "Nn") return &minute;
        if (token == "S" || token == "Ss") return &second;
        if (in(markers)) return &marker;
        return nullptr;
    }
};

void scan_element(std::string_view server, std::string_view format, Fields& fields) {
    std::string chunk, token;
    bool more = true;
    while (more) {
        more = next_format_chunk(server, format, chunk, token);
        KTR_TRACE("Returned Chunk:_" + chunk + "_ Format: _" + token + "_");
        KTR_TRACE("Remaining Chunk:_" + std::string(server) + "_ Format: _" + std::string(format) + "_");
        if (std::string* slot = fields.slot(token)) *slot = chunk;
    }
}

} // namespace

bool is_format_letter(char c) { return std::string_view("dmyhHNSAa").find(c) != std::string_view::npos; }

bool next_format_chunk(std::string_view& server, std::string_view& format, std::string& chunk, std::string& token) {
    chunk.clear();
    token.clear();
    if (format.empty()) return false;
    const Rule rule = classify(format);
    switch (rule.kind) {
    case Kind::Bad:
        KTR_TRACE("Bad format string:_" + std::string(format) + "_");
        return false;
    case Kind::Escape: drop(server, 1); drop(format, 2); break;
    case Kind::Literal: drop(server, 1); drop(format, 1); break;
    case Kind::Fixed:
        if (server.size() == rule.server_chars) {
            chunk.assign(server);
            token.assign(format);
            server = {};
            format = {};
            return false;
        }
        chunk.assign(server.substr(0, rule.server_chars));
        token.assign(format.substr(0, rule.format_chars));
        drop(server, rule.server_chars);
        drop(format, rule.format_chars);
        break;
    case Kind::Delimited: {
        size_t sep = 1;
        while (sep < format.size() && is_format_letter(format[sep])) ++sep;
        if (sep >= format.size()) {
            chunk.assign(server);
            token.assign(format);
            server = {};
            format = {};
            return false;
        }
        const size_t at = find_no_case(server, format.substr(sep, 1));
        if (at == std::string_view::npos || at == 0) return false;
        chunk.assign(server.substr(0, at));
        token.assign(format.substr(0, sep));
        drop(server, at + 1);
        drop(format, sep + 1);
        break;
    }
    }
    return !server.empty();
}

bool Custom_parse_string(std::string_view server, std::string_view format, std::string& date_out,
                         std::string& time_out) {
    KTR_TRACE("---Custom_parse_string -------");
    KTR_TRACE("   Server String:_" + std::string(server) + "_  Format:_" + std::string(format) + "_");
    const std::vector<std::string> server_elements = platform::split_blanks(server);
    const std::vector<std::string> format_elements = platform::split_blanks(format);
    if (server_elements.size() != format_elements.size()) {
        KTR_TRACE("Error: Format String and Server String differ in number of elements.");
        date_out.clear();
        time_out.clear();
        return false;
    }

    Fields f;
    for (size_t k = 0; k < server_elements.size(); ++k)
        if (!server_elements[k].empty()) scan_element(server_elements[k], format_elements[k], f);

    const double now = platform::now_local();
    if (f.month.empty()) f.month = platform::format_date(now, "mmm");
    if (f.day.empty()) f.day = platform::format_date(now, "d");
    if (f.year.empty()) f.year = platform::format_date(now, "yyyy");

    const std::string date = f.month.size() >= 3 ? f.month + " " + f.day + ", " + f.year
                                                 : f.month + "/" + f.day + "/" + f.year;
    const std::string time = f.hour + ":" + f.minute + ":" + f.second + " " + f.marker;
    const std::string candidate = date + " " + time;
    if (const auto value = platform::parse_date(candidate)) {
        date_out = date;
        time_out = time;
        KTR_TRACE("Custom_parse_string: date OK: " + platform::format_date(*value, "General Date"));
        return true;
    }
    date_out.clear();
    time_out.clear();
    KTR_TRACE("Custom_parse_string: Failed date conversion: " + candidate);
    return false;
}

} // namespace ktr::engine
