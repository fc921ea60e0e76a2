// Placeholder until the full conversions land.
#include "platform/convert.h"

#include <cmath>
#include <cstdlib>
#include <string>

namespace ktr::platform {

double leading_number(std::string_view text) { return std::atof(std::string(text).c_str()); }

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
    const double r = std::nearbyint(v);
    if (r < -32768 || r > 32767) return std::nullopt;
    return static_cast<int16_t>(r);
}

std::optional<int32_t> to_int32(double v) {
    if (!std::isfinite(v)) return std::nullopt;
    const double r = std::nearbyint(v);
    if (r < -2147483648.0 || r > 2147483647.0) return std::nullopt;
    return static_cast<int32_t>(r);
}

std::optional<double> text_to_number(std::string_view text) {
    std::string s(text);
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (end == s.c_str()) return std::nullopt;
    return v;
}

std::string number_to_text(double value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", value);
    return buf;
}

} // namespace ktr::platform
