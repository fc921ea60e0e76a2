// The wake-on-LAN control: three address properties, one send method and two events.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace ktr::platform {

inline constexpr uint16_t kWakeOnLanPort = 9;  // the discard port, where adapters listen for the packet

// Parses a MAC address of six hex groups of one or two digits separated by "-" or ":".
std::optional<std::array<uint8_t, 6>> parse_mac_address(std::string_view text);

// The magic packet: six bytes 0xFF, then the MAC address sixteen times (102 bytes).
std::string magic_packet(const std::array<uint8_t, 6>& mac);

class WakeOnLan {
public:
    // Sent event: a text, the MAC address, the broadcast address, the local address.
    using SentHandler = std::function<void(const std::string& text, const std::string& mac,
                                           const std::string& broadcast, const std::string& local)>;
    using ErrorHandler = std::function<void(const std::string& text)>;

    const std::string& BroadcastAddress() const { return broadcast_; }
    void BroadcastAddress(std::string value) { broadcast_ = std::move(value); }
    const std::string& MACAddress() const { return mac_; }
    void MACAddress(std::string value) { mac_ = std::move(value); }
    // The address to send from; empty: any.
    const std::string& LocalAddress() const { return local_; }
    void LocalAddress(std::string value) { local_ = std::move(value); }

    // Sends the magic packet for the MAC address as one UDP datagram to the broadcast address, from the
    // local address. Raises the sent event and returns true, or raises the error event and returns false
    // (pending error filled) when an address is not valid or the packet cannot be sent.
    bool Send();

    void OnSent(SentHandler handler) { on_sent_ = std::move(handler); }
    void OnError(ErrorHandler handler) { on_error_ = std::move(handler); }

    // Tests only: sends to this address and port (a loopback listener) instead of the broadcast address
    // and port 9, so that no test packet leaves the machine.
    void redirect_for_tests(std::string address, uint16_t port) {
        redirect_ = std::move(address);
        port_ = port;
    }

private:
    using Ipv4 = std::array<uint8_t, 4>;  // in network order

    bool fail(const std::string& text);
    // An address that does not parse: the system's number for a bad argument, and the error event.
    bool invalid_address(const std::string& text);
    // The backend's steps: a dotted IPv4 address; the system's number for a bad argument; the packet as one
    // datagram from the local address to the broadcast address (or the test address), false with the
    // error event raised.
    static bool parse_ipv4(const std::string& text, Ipv4& address);
    static int32_t bad_argument_number();
    bool send_packet(const std::string& packet, const Ipv4& local, const Ipv4& broadcast);

    std::string broadcast_;
    std::string mac_;
    std::string local_;
    std::string redirect_;
    uint16_t port_ = kWakeOnLanPort;
    SentHandler on_sent_;
    ErrorHandler on_error_;
};

} // namespace ktr::platform
