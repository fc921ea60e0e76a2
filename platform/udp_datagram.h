// One-datagram UDP sending (and receiving, for tests and small tools), with host names resolved under a
// bounded wait so that a name server that does not answer cannot stall the event pump.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/handle.h"

namespace ktr::platform {

// An IPv4 or IPv6 socket address with its port; opaque outside the platform code.
struct NetAddress {
    std::array<unsigned char, 128> bytes{};
    uint32_t length = 0;
    bool ipv6 = false;
};

// Resolves a host name or a numeric address (IPv4 or IPv6) for the given port. Numeric addresses are taken
// at once; a name is looked up by the system's resolver for at most timeout_ms. An IPv4 address is
// preferred when the name has both. Nothing (pending error filled) when it does not resolve in time.
std::optional<NetAddress> resolve_host(const std::string& host, uint16_t port, int timeout_ms);

// A UDP endpoint. Sending needs no bind: the system picks the local port at the first send. One socket per
// address family is created on first need and kept until close().
class UdpDatagramSocket {
public:
    UdpDatagramSocket() = default;
    ~UdpDatagramSocket();
    UdpDatagramSocket(const UdpDatagramSocket&) = delete;
    UdpDatagramSocket& operator=(const UdpDatagramSocket&) = delete;

    // Creates the IPv4 socket now, so that a failure shows before the first datagram; false (pending
    // error filled) when the system refuses.
    bool open();
    // Binds to 127.0.0.1 on a free port chosen by the system (a receiver on loopback).
    bool bind_loopback();
    // The bound local port (0 when not bound yet).
    uint16_t local_port() const;

    // Sends the bytes as one datagram; false (pending error filled) on failure.
    bool send_to(const NetAddress& to, std::string_view data);
    // Waits at most timeout_ms for one datagram on the IPv4 socket.
    std::optional<std::string> receive(int timeout_ms);

    void close();
    bool is_open() const { return v4_.valid() || v6_.valid(); }

private:
    OsHandle v4_;
    OsHandle v6_;
};

} // namespace ktr::platform
