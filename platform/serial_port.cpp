#include "platform/serial_port.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

#include "platform/text.h"

namespace ktr::platform {
namespace {

constexpr std::array<int32_t, 11> kBauds{110, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

std::vector<std::string_view> split_commas(std::string_view text) {
    std::vector<std::string_view> parts;
    for (;;) {
        const auto comma = text.find(',');
        parts.push_back(text.substr(0, comma));
        if (comma == std::string_view::npos) return parts;
        text.remove_prefix(comma + 1);
    }
}

} // namespace

std::optional<SerialLine> parse_serial_line(std::string_view text) {
    const auto parts = split_commas(text);
    if (parts.size() != 4) return std::nullopt;
    for (const auto p : parts)
        if (p.empty() || p.size() > 7) return std::nullopt;
    SerialLine line;
    const std::string baud(parts[0]);
    char* end = nullptr;
    const long number = std::strtol(baud.c_str(), &end, 10);  // blanks before the number are allowed
    if (*end != '\0' || std::find(kBauds.begin(), kBauds.end(), number) == kBauds.end()) return std::nullopt;
    line.baud = static_cast<int32_t>(number);
    line.parity = parts[1].size() == 1 ? upper_char(parts[1][0]) : '?';
    if (line.parity != 'N' && line.parity != 'E' && line.parity != 'O') return std::nullopt;
    if (parts[2].size() != 1 || parts[2][0] < '5' || parts[2][0] > '8') return std::nullopt;
    line.data_bits = parts[2][0] - '0';
    if (parts[3] != "1" && parts[3] != "2") return std::nullopt;
    line.stop_bits = parts[3][0] - '0';
    return line;
}

} // namespace ktr::platform
