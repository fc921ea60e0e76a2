// Test peers on loopback (127.0.0.1 unless another source is given), with receive time-outs: they stand in
// for the console and for other programs that hold ports.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fakes/scoped_env.h"

namespace ktr::testing {

// A port that is free for both TCP and UDP right now (the kernel picks it).
uint16_t free_port();

class PeerSocket : NoCopy {
public:
    PeerSocket() = default;
    ~PeerSocket() { close(); }
    void close();
    uint16_t port() const;  // the local port
    bool ok() const { return fd_ != -1; }

protected:
    intptr_t fd_ = -1;  // a descriptor, or a Winsock SOCKET (INVALID_SOCKET is -1 here)
};

class TcpPeer : public PeerSocket {
public:
    bool connect(uint16_t port, const char* source = nullptr);
    bool send(const std::string& data);
    // Waits up to timeout_ms for at least one byte; "" on time-out or end.
    std::string receive(int timeout_ms = 2000);
    // Whether the server ended the connection within the time.
    bool closed_by_peer(int timeout_ms = 2000);
    void reset();  // closes with a reset instead of an orderly end
};

class UdpPeer : public PeerSocket {
public:
    explicit UdpPeer(const char* source = "127.0.0.1");
    bool send_to(uint16_t port, const std::vector<uint8_t>& data);
    bool receive(std::vector<uint8_t>& data, int timeout_ms = 2000);
};

// Holds a port as another program would (TCP listener or bound UDP socket); ok() tells whether it got it.
struct PortHolder : PeerSocket {
    PortHolder(uint16_t port, bool tcp);
};

} // namespace ktr::testing
