// The serial-port control: the comm control's properties and its communication event.
// A property set that the port refuses returns false with the pending-error record filled (the control
// raises an error there); the caller decides whether to go on.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace ktr::platform {

namespace detail {
struct SerialState;
}

// CommEvent codes.
inline constexpr int16_t comEvReceive = 2;
inline constexpr int16_t comEventBreak = 1001;
inline constexpr int16_t comEventFrame = 1004;
inline constexpr int16_t comEventOverrun = 1006;
inline constexpr int16_t comEventRxOver = 1008;
inline constexpr int16_t comEventRxParity = 1009;
inline constexpr int16_t comEventTxFull = 1010;
inline constexpr int16_t comEventDCB = 1011;

// Error numbers the control raises.
inline constexpr int32_t comPortAlreadyOpen = 8005;
inline constexpr int32_t comPortOpenFailed = 8002;
inline constexpr int32_t comInvalidPropertyValue = 380;
inline constexpr int32_t comPortNotOpen = 8012;

// Receive buffer size; more unread bytes than this raise comEventRxOver and are dropped.
inline constexpr size_t kInBufferSize = 1024;

// The line settings "baud,parity,data bits,stop bits", e.g. "9600,N,8,1".
struct SerialLine {
    int32_t baud = 9600;  // 110, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600 or 115200
    char parity = 'N';    // N, E or O
    int data_bits = 8;    // 5 to 8
    int stop_bits = 1;    // 1 or 2
};
// Reads the settings text; nothing when a part is missing or not supported. Parity letters in either case.
std::optional<SerialLine> parse_serial_line(std::string_view text);

class SerialPort {
public:
    SerialPort();
    ~SerialPort();  // closes the port
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    int16_t CommPort() const;
    bool CommPort(int16_t port);  // refused while the port is open or below 1
    // "baud,parity,data bits,stop bits", e.g. "9600,N,8,1"; parity N, E, O (either case); data 5-8;
    // stop 1 or 2. Applied at once when the port is open.
    const std::string& Settings() const;
    bool Settings(std::string_view settings);
    bool PortOpen() const;
    // Opening: the port's device (KTRSVC_COM<n> names another one) is opened without waiting for a
    // carrier, locked against other users (a busy port fails) and configured; opening an open port fails
    // with comPortAlreadyOpen. Input arrives through the event pump, as the control's events do.
    bool PortOpen(bool open);

    // Sends the bytes; fails (nothing or part sent) when the port is closed or the device does not take
    // them at once. Never blocks.
    bool Output(std::string_view bytes);
    // Takes up to InputLen bytes (all when 0) from the receive buffer.
    std::string Input();
    int16_t InBufferCount() const;

    int16_t InputLen() const;
    void InputLen(int16_t n);
    int16_t InputMode() const;  // 0 text, 1 binary: the bytes are the same either way here
    void InputMode(int16_t mode);
    int16_t Handshaking() const;  // 0 none, 1 XON/XOFF, 2 RTS/CTS, 3 both
    bool Handshaking(int16_t mode);
    bool DTREnable() const;
    void DTREnable(bool on);
    bool RTSEnable() const;
    void RTSEnable(bool on);
    int16_t RThreshold() const;  // a receive event when this many bytes are waiting (0: none)
    void RThreshold(int16_t n);
    int16_t SThreshold() const;
    void SThreshold(int16_t n);
    int16_t CommEvent() const;  // the code of the event being delivered

    // The communication event; the handler reads CommEvent. One receive event is raised for each byte
    // received while at least RThreshold bytes wait.
    void OnComm(std::function<void()> handler);

private:
    struct Impl;
    // The backend's steps: its state, the line settings and modem lines applied to the open device, and
    // the pending error from the device's last failure.
    detail::SerialState& state() const;
    bool apply_line();
    void apply_modem_lines();
    static void report_device_error();

    std::unique_ptr<Impl> impl_;
};

} // namespace ktr::platform
