// A blocking client for tools, tests and benchmarks: one request, one reply, bounded by a timeout.
// The module itself never blocks: it uses the event-driven sockets.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/handle.h"

namespace ktr::platform {

struct ClientReply {
    bool ok = false;         // a reply arrived in time
    std::string data;        // the reply bytes
    std::string error;       // why not, when !ok
    double round_trip_ms = 0;
};

// Connects over TCP, sends the request and reads what arrives until the peer closes or no more bytes come
// for settle_ms after the first ones. Fails when nothing arrives within timeout_ms.
ClientReply tcp_request(const std::string& host, int port, std::string_view request, int timeout_ms,
                        int settle_ms = 100);

// Sends one datagram and waits for one datagram in reply.
ClientReply udp_request(const std::string& host, int port, std::string_view request, int timeout_ms);

// A UDP socket bound to a loopback port for tests and benchmarks that play the other side.
class UdpEndpoint {
public:
    explicit UdpEndpoint(int port = 0, const std::string& address = "127.0.0.1");
    ~UdpEndpoint();
    UdpEndpoint(const UdpEndpoint&) = delete;
    UdpEndpoint& operator=(const UdpEndpoint&) = delete;
    bool ok() const { return socket_.valid(); }
    int port() const { return port_; }
    // Waits up to timeout_ms for one datagram; false on timeout. A negative timeout waits without limit (a
    // plain blocking receive: what a bare echo does).
    bool receive(std::string& data, int timeout_ms, std::string* from_host = nullptr, int* from_port = nullptr);
    bool send_to(const std::string& host, int port, std::string_view data);

private:
    OsHandle socket_;
    int port_ = 0;
};

} // namespace ktr::platform
