#include "platform/convert.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>

#include "platform/text.h"

namespace ktr::platform {
namespace {

bool is_val_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Reads a number in the given base after "&H"/"&O". Values that fit 16 bits are taken as signed 16-bit,
// larger ones up to 32 bits as signed 32-bit (so "&HFFFF" is -1, as the runtime reads it).
std::optional<double> radix_number(std::string_view digits, int base) {
    uint64_t v = 0;
    bool any = false;
    for (char c : digits) {
        int d;
        if (is_digit(c)) d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else break;
        if (d >= base) break;
        v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
        if (v > 0xFFFFFFFFull) return std::nullopt;
        any = true;
    }
    if (!any) return 0.0;
    if (v <= 0xFFFF) return static_cast<double>(static_cast<int16_t>(static_cast<uint16_t>(v)));
    return static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(v)));
}

// Shortest decimal digits and exponent of a finite value (digits "d1d2...", value = 0.d1d2... * 10^exp10).
template <typename T>
std::string shortest_text(T value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
    if (value == 0) return "0";
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    std::string sci(buf, res.ptr);
    std::string out;
    size_t pos = 0;
    if (sci[0] == '-') {
        out = "-";
        pos = 1;
    }
    const size_t epos = sci.find('e');
    std::string digits;
    for (size_t i = pos; i < epos; ++i)
        if (sci[i] != '.') digits += sci[i];
    const int exp10 = std::atoi(sci.c_str() + epos + 1); // value = d.ddd * 10^exp10
    if (exp10 >= -5 && exp10 < 15) {
        if (exp10 < 0) {
            out += "0." + std::string(static_cast<size_t>(-exp10 - 1), '0') + digits;
        } else if (static_cast<size_t>(exp10) + 1 >= digits.size()) {
            out += digits + std::string(static_cast<size_t>(exp10) + 1 - digits.size(), '0');
        } else {
            out += digits.substr(0, static_cast<size_t>(exp10) + 1) + "." + digits.substr(static_cast<size_t>(exp10) + 1);
        }
        return out;
    }
    out += digits.substr(0, 1);
    if (digits.size() > 1) out += "." + digits.substr(1);
    char ebuf[16];
    std::snprintf(ebuf, sizeof ebuf, "E%c%02d", exp10 < 0 ? '-' : '+', std::abs(exp10));
    return out + ebuf;
}

} // namespace

double leading_number(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && is_val_blank(text[i])) ++i;
    if (i + 1 < text.size() && text[i] == '&') {
        const char k = text[i + 1];
        std::optional<double> v;
        if (k == 'h' || k == 'H') v = radix_number(text.substr(i + 2), 16);
        else if (k == 'o' || k == 'O') v = radix_number(text.substr(i + 2), 8);
        else v = radix_number(text.substr(i + 1), 8);
        return v.value_or(0.0);
    }
    // Gather sign, digits, point and exponent, dropping the blanks the runtime ignores between them.
    std::string clean;
    auto skip_blanks = [&] {
        while (i < text.size() && is_val_blank(text[i])) ++i;
    };
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        if (text[i] == '-') clean += '-';
        ++i;
    }
    bool digits = false;
    bool point = false;
    for (skip_blanks(); i < text.size(); ++i, skip_blanks()) {
        const char c = text[i];
        if (is_digit(c)) {
            clean += c;
            digits = true;
        } else if (c == '.' && !point) {
            clean += c;
            point = true;
        } else {
            break;
        }
    }
    if (!digits) return 0.0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
        size_t j = i + 1;
        std::string exp = "e";
        while (j < text.size() && is_val_blank(text[j])) ++j;
        if (j < text.size() && (text[j] == '-' || text[j] == '+')) exp += text[j++];
        bool exp_digits = false;
        for (; j < text.size(); ++j) {
            if (is_digit(text[j])) {
                exp += text[j];
                exp_digits = true;
            } else if (!is_val_blank(text[j])) {
                break;
            }
        }
        if (exp_digits) clean += exp;
    }
    double v = 0.0;
    const auto res = std::from_chars(clean.data() + (clean[0] == '-' ? 1 : 0), clean.data() + clean.size(), v);
    if (res.ec != std::errc() || !std::isfinite(v)) return 0.0; // overflow: no usable number
    return clean[0] == '-' ? -v : v;
}

std::vector<std::string> split_blanks(std::string_view text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        const auto pos = text.find(' ', start);
        out.emplace_back(text.substr(start, pos == std::string_view::npos ? std::string_view::npos : pos - start));
        if (pos == std::string_view::npos) break;
        start = pos + 1;
    }
    return out;
}

std::optional<int16_t> to_int16(double v) {
    if (!std::isfinite(v)) return std::nullopt;
    const double r = std::nearbyint(v); // the default rounding mode sends halves to even
    if (r < -32768.0 || r > 32767.0) return std::nullopt;
    return static_cast<int16_t>(r);
}

std::optional<int32_t> to_int32(double v) {
    if (!std::isfinite(v)) return std::nullopt;
    const double r = std::nearbyint(v);
    if (r < -2147483648.0 || r > 2147483647.0) return std::nullopt;
    return static_cast<int32_t>(r);
}

std::optional<double> text_to_number(std::string_view text) {
    size_t b = 0, e = text.size();
    while (b < e && is_val_blank(text[b])) ++b;
    while (e > b && is_val_blank(text[e - 1])) --e;
    std::string_view t = text.substr(b, e - b);
    if (t.empty()) return std::nullopt;
    if (t.size() > 2 && t[0] == '&' && (t[1] == 'h' || t[1] == 'H' || t[1] == 'o' || t[1] == 'O')) {
        const int base = (t[1] == 'h' || t[1] == 'H') ? 16 : 8;
        for (size_t k = 2; k < t.size(); ++k) {
            const char c = t[k];
            const bool ok = base == 16 ? std::isxdigit(static_cast<unsigned char>(c)) != 0 : (c >= '0' && c <= '7');
            if (!ok) return std::nullopt;
        }
        return radix_number(t.substr(2), base);
    }
    bool negative = false;
    if (t[0] == '-' || t[0] == '+') {
        negative = t[0] == '-';
        t.remove_prefix(1);
    }
    // from_chars takes no sign of its own here and needs at least one digit before an exponent.
    bool digits = false;
    for (char c : t) {
        if (is_digit(c)) digits = true;
        if (c == 'e' || c == 'E') break;
    }
    if (!digits || t.empty() || t[0] == '+' || t[0] == '-') return std::nullopt;
    double v = 0.0;
    const auto res = std::from_chars(t.data(), t.data() + t.size(), v);
    if (res.ec != std::errc() || res.ptr != t.data() + t.size() || !std::isfinite(v)) return std::nullopt;
    return negative ? -v : v;
}

std::string number_to_text(double value) { return shortest_text(value); }

std::string single_to_text(float value) { return shortest_text(value); }

} // namespace ktr::platform
