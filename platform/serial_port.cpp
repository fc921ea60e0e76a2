#include "platform/serial_port.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

#include "platform/pending_error.h"
#include "platform/serial_state.h"
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

// The control's properties, the same on every backend.

int16_t SerialPort::CommPort() const { return state().comm_port; }
bool SerialPort::CommPort(int16_t port) {
    if (PortOpen()) {
        set_pending_error(comPortAlreadyOpen, "Port already open");
        return false;
    }
    if (port < 1) {
        set_pending_error(comInvalidPropertyValue, "Invalid port number");
        return false;
    }
    state().comm_port = port;
    return true;
}

const std::string& SerialPort::Settings() const { return state().settings; }
bool SerialPort::Settings(std::string_view settings) {
    const auto line = parse_serial_line(settings);
    if (!line) {
        set_pending_error(comInvalidPropertyValue, "Invalid property value");
        return false;
    }
    state().line = *line;
    state().settings = std::string(settings);
    if (PortOpen() && !apply_line()) {
        report_device_error();
        return false;
    }
    return true;
}

std::string SerialPort::Input() {
    auto& buf = state().in_buffer;
    const size_t n = state().input_len > 0 ? std::min(buf.size(), static_cast<size_t>(state().input_len)) : buf.size();
    std::string out = buf.substr(0, n);
    buf.erase(0, n);
    return out;
}

int16_t SerialPort::InBufferCount() const { return static_cast<int16_t>(state().in_buffer.size()); }

int16_t SerialPort::InputLen() const { return state().input_len; }
void SerialPort::InputLen(int16_t n) { state().input_len = n < 0 ? 0 : n; }
int16_t SerialPort::InputMode() const { return state().input_mode; }
void SerialPort::InputMode(int16_t mode) { state().input_mode = mode; }
int16_t SerialPort::Handshaking() const { return state().handshaking; }
bool SerialPort::Handshaking(int16_t mode) {
    if (mode < 0 || mode > 3) {
        set_pending_error(comInvalidPropertyValue, "Invalid property value");
        return false;
    }
    state().handshaking = mode;
    if (PortOpen()) apply_line();
    return true;
}
bool SerialPort::DTREnable() const { return state().dtr; }
void SerialPort::DTREnable(bool on) {
    state().dtr = on;
    if (PortOpen()) apply_modem_lines();
}
bool SerialPort::RTSEnable() const { return state().rts; }
void SerialPort::RTSEnable(bool on) {
    state().rts = on;
    if (PortOpen()) apply_modem_lines();
}
int16_t SerialPort::RThreshold() const { return state().r_threshold; }
void SerialPort::RThreshold(int16_t n) { state().r_threshold = n < 0 ? 0 : n; }
int16_t SerialPort::SThreshold() const { return state().s_threshold; }
void SerialPort::SThreshold(int16_t n) { state().s_threshold = n < 0 ? 0 : n; }
int16_t SerialPort::CommEvent() const { return state().comm_event; }

void SerialPort::OnComm(std::function<void()> handler) { state().on_comm = std::move(handler); }

} // namespace ktr::platform
