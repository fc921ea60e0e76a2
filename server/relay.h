// Relay control: the console's "X" command switches relay 0 or 1 of a serial relay board on or off,
// latched or for a number of seconds, or reads input 2.
//
// Board protocol: "!0S" + one byte (bit 0 relay 0, bit 1 relay 1) switches both relays; "!0R" asks for
// the status byte (bit 0 relay 0 on, bit 1 relay 1 on, bit 2 input 2 on).
#pragma once

#include <cstdint>
#include <string>

#include "platform/event_pump.h"
#include "platform/serial_port.h"

namespace ktr::server {

// The port's line settings for a speed text: "2400" and "4800" their own, all else 9600.
bool relay_port_speed(const std::string& speed, platform::SerialPort& port);
// One receive event per byte, binary input, no handshaking, DTR and RTS on.
void relay_port_init(platform::SerialPort& port);
// Opens port "COM<port>"; false when it cannot be opened (also when it is open already).
bool relay_port_open(int16_t port, platform::SerialPort& port_object);

class RelayControl {
public:
    // The main window's serial port MSComm1 and timer tmrRelay: their events are wired to
    // MSComm1_OnComm and tmrRelay_Timer here.
    RelayControl(platform::SerialPort& port, platform::Timer& tmrRelay);
    RelayControl(const RelayControl&) = delete;
    RelayControl& operator=(const RelayControl&) = delete;

    // Carries out the request text of an "X" command, "X+<switch> <On|Off> <Latch|seconds> COM<n> <speed>".
    // local_port is the option X10ComPort, used when the request names port COM0. Sets status to the
    // state the board reports ("On" or "Off") for the reply "OK-X " + status, and log to the text to show.
    // Result: "OK", "Failed." (the board reports another state), "" (malformed request: nothing sent),
    // "No command.", "Could not open port: COM<n>", or "Error".
    std::string do_Relay(const std::string& request, int16_t local_port, std::string& status, std::string& log);

    // Event handlers: the port's communication event and the tmrRelay tick.
    void MSComm1_OnComm();
    void tmrRelay_Timer();

    void relay_send(const std::string& text);
    void relay_send_state();
    void relay_read();
    bool relay_check(int16_t sw, const std::string& action, std::string& status);
    void relay_receive(platform::SerialPort& port);

    // Wanted state of a switch (1 on, 0 off) and the last byte the board sent.
    int16_t wanted_state(int sw) const { return relay_state_[sw][0]; }
    uint8_t status_byte() const { return status_byte_; }
    // The pending timed switching: switch, action ("" when none), milliseconds left after this interval.
    int16_t pending_switch() const { return pending_switch_; }
    const std::string& pending_action() const { return pending_action_; }
    int32_t remaining_ms() const { return remaining_ms_; }

private:
    platform::SerialPort& port_;
    platform::Timer& timer_;
    int16_t relay_state_[9][3] = {};
    uint8_t status_byte_ = 0;
    int16_t pending_switch_ = 0;
    std::string pending_action_;
    int32_t remaining_ms_ = 0;
};

} // namespace ktr::server
