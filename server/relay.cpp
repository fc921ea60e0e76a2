#include "server/relay.h"

#include <cmath>
#include <optional>

#include "diag/debug_log.h"
#include "platform/convert.h"
#include "platform/pending_error.h"
#include "platform/text.h"
#include "server/waits.h"

namespace ktr::server {
namespace {

constexpr int32_t kSliceMs = 62000;    // the longest timer interval used
constexpr int32_t kBoardWaitMs = 200;  // time the board gets to answer
constexpr double kMaxSeconds = 2147483;  // a duration whose milliseconds still fit the timer fields

// The checked fields of a request.
struct RelayRequest {
    int16_t sw = 0;
    std::string action;
    bool timed = false;
    int32_t duration_ms = 0;
    int16_t port = 0;
};

std::optional<RelayRequest> parse_request(const std::vector<std::string>& e, int16_t local_port) {
    if (e.size() < 5) return std::nullopt;
    RelayRequest r;
    const auto sw = platform::to_int16(platform::leading_number(platform::mid(e[0], 3, 1)));
    if (!sw || *sw < 0 || *sw > 2) return std::nullopt;
    r.sw = *sw;
    r.action = e[1];
    if (r.sw < 2) {
        if (r.action != "On" && r.action != "Off") return std::nullopt;
        if (e[2] != "Latch") {
            const double seconds = platform::leading_number(e[2]);
            // Longer than the timer fields can count would leave the relay switched for good.
            if (!(seconds >= 1) || seconds > kMaxSeconds) return std::nullopt;
            r.timed = true;
            r.duration_ms = static_cast<int32_t>(std::lround(seconds * 1000));
        }
    }
    const auto port = platform::to_int16(platform::leading_number(platform::mid(e[3], 4)));
    if (!port) return std::nullopt;
    r.port = *port < 1 ? local_port : *port;
    if (r.port < 1) return std::nullopt;
    const double speed = platform::leading_number(e[4]);
    if (!(speed >= 2400 && speed <= 9600)) return std::nullopt;
    return r;
}

} // namespace

bool relay_port_speed(const std::string& speed, platform::SerialPort& port) {
    if (speed == "2400") return port.Settings("2400,N,8,1");
    if (speed == "4800") return port.Settings("4800,N,8,1");
    return port.Settings("9600,N,8,1");
}

void relay_port_init(platform::SerialPort& port) {
    port.InputLen(1);
    port.RTSEnable(true);
    port.DTREnable(true);
    port.SThreshold(1);
    port.RThreshold(1);
    port.Handshaking(0);
    port.InputMode(1);
}

bool relay_port_open(int16_t port, platform::SerialPort& port_object) {
    if (port_object.CommPort(port) && port_object.PortOpen(true)) return true;
    platform::clear_pending_error();
    return false;
}

RelayControl::RelayControl(platform::SerialPort& port, platform::Timer& tmrRelay) : port_(port), timer_(tmrRelay) {
    port_.OnComm([this] { MSComm1_OnComm(); });
    timer_.on_timer([this] { tmrRelay_Timer(); });
}

std::string RelayControl::do_Relay(const std::string& request, int16_t local_port, std::string& status,
                                   std::string& log) {
    log = "Relay: ";
    if (request.empty()) return "No command.";
    try {
        KTR_TRACE("Relay:_" + diag::escaped(request) + "_");
        const auto e = platform::split_blanks(request);
        const auto r = parse_request(e, local_port);
        if (!r) return "";

        log += "Switch: " + std::to_string(r->sw);
        if (r->sw < 2) log += " " + r->action + " " + e[2];
        log += ", Port: " + e[3] + ", Baud: " + e[4];
        KTR_TRACE(log);

        // A port held by a pending timed switching is left exactly as it is.
        if (port_.PortOpen()) return "Could not open port: " + e[3];
        if (!relay_port_speed(e[4], port_)) {
            const std::string why = platform::pending_error().description;
            platform::clear_pending_error();
            KTR_TRACE("do_relay Error: " + why);
            port_.PortOpen(false);
            return "Error";
        }
        relay_port_init(port_);
        if (!relay_port_open(r->port, port_)) return "Could not open port: " + e[3];

        if (r->sw < 2) {
            relay_state_[r->sw][0] = r->action == "On" ? 1 : 0;
            relay_send_state();
            relay_read();
            if (r->timed) {
                pending_switch_ = r->sw;
                pending_action_ = r->action;
                if (r->duration_ms < 63000) {
                    timer_.Interval(r->duration_ms - 200);
                    remaining_ms_ = 0;
                } else {
                    timer_.Interval(kSliceMs);
                    remaining_ms_ = r->duration_ms - 62200;
                }
                timer_.Enabled(true);
            }
        } else {
            relay_read();
        }

        wait_ms(kBoardWaitMs);
        const std::string result = relay_check(r->sw, r->action, status) ? "OK" : "Failed.";
        if (!r->timed) port_.PortOpen(false);
        return result;
    } catch (const std::exception& ex) {
        KTR_TRACE(std::string("do_relay Error: ") + ex.what());
        port_.PortOpen(false);
        return "Error";
    }
}

void RelayControl::relay_send(const std::string& text) {
    if (!port_.Output(text)) platform::clear_pending_error();  // the read-back shows what the board did
}

void RelayControl::relay_send_state() {
    const char state = static_cast<char>((relay_state_[0][0] & 1) + 2 * (relay_state_[1][0] & 1));
    relay_send(std::string("!0S") + state);
}

void RelayControl::relay_read() { relay_send("!0R"); }

bool RelayControl::relay_check(int16_t sw, const std::string& action, std::string& status) {
    status = "Off";
    switch (sw) {
    case 0:
        if (status_byte_ & 1) status = "On";
        return action == status;
    case 1:
        if (status_byte_ & 2) status = "On";
        return action == status;
    case 2:
        if (status_byte_ & 4) status = "On";
        return true;
    default:
        KTR_TRACE("Did not find this switch: " + std::to_string(sw));
        return false;
    }
}

void RelayControl::relay_receive(platform::SerialPort& port) {
    const std::string bytes = port.Input();
    if (!bytes.empty()) status_byte_ = static_cast<uint8_t>(bytes[0]);
}

void RelayControl::MSComm1_OnComm() {
    const char* text = "";
    switch (port_.CommEvent()) {
    case platform::comEventBreak: text = "Error: break"; break;
    case platform::comEventFrame: text = "Error: framing"; break;
    case platform::comEventOverrun: text = "Error: data lost"; break;
    case platform::comEventRxOver: text = "Error: buffer overflow"; break;
    case platform::comEventRxParity: text = "Error: parity error"; break;
    case platform::comEventTxFull: text = "Error: xmit overflow"; break;
    case platform::comEventDCB: text = "Error: unexpected DCB"; break;
    case platform::comEvReceive: relay_receive(port_); break;
    default: break;
    }
    if (std::string_view(text).rfind("Error:", 0) == 0) KTR_TRACE(text);
}

void RelayControl::tmrRelay_Timer() {
    timer_.Enabled(false);
    if (remaining_ms_ < 1) {
        KTR_TRACE("Relay timer expired, sw: " + std::to_string(pending_switch_) +
                  ", current state: " + pending_action_);
        if (pending_action_ == "On") {
            relay_state_[pending_switch_][0] = 0;
        } else if (pending_action_ == "Off") {
            relay_state_[pending_switch_][0] = 1;
        } else {
            return;
        }
        relay_send_state();
        relay_read();
        port_.PortOpen(false);
        pending_action_.clear();
        return;
    }
    const int32_t interval = remaining_ms_ > kSliceMs ? kSliceMs : remaining_ms_;
    timer_.Interval(interval);
    remaining_ms_ -= interval;
    timer_.Enabled(true);
}

} // namespace ktr::server
