// The socket component: TCP and UDP socket objects driven by the event pump, and the indexed array of them.
// Failing methods return false with the pending-error record filled.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/event_pump.h"
#include "platform/handle.h"

namespace ktr::platform {

enum : int16_t { kTcpProtocol = 0, kUdpProtocol = 1 };

// Socket states.
enum : int16_t {
    kStateClosed = 0,
    kStateOpen = 1,
    kStateListening = 2,
    kStateConnectionPending = 3,
    kStateResolvingHost = 4,
    kStateHostResolved = 5,
    kStateConnecting = 6,
    kStateConnected = 7,
    kStatePeerClosing = 8,
    kStateError = 9,
};

// Error numbers raised by the component (the Winsock numbering the callers know).
enum : int32_t {
    kErrInvalidOperation = 40020,   // wrong protocol or state for the request
    kErrAddressInUse = 10048,
    kErrConnectionReset = 10054,
    kErrNotConnected = 10057,
    kErrHostNotFound = 11001,
};

// The six events; each carries the index of the member that raised it.
class SocketEvents {
public:
    virtual ~SocketEvents() = default;
    virtual void ConnectionRequest(int16_t /*index*/, int32_t /*request_id*/) {}
    virtual void DataArrival(int16_t /*index*/, int32_t /*bytes_total*/) {}
    virtual void Close(int16_t /*index*/) {}
    virtual void Error(int16_t /*index*/, int16_t /*number*/, const std::string& /*description*/,
                       int32_t /*scode*/, const std::string& /*source*/, const std::string& /*help_file*/,
                       int32_t /*help_context*/, bool& /*cancel_display*/) {}
    virtual void SendProgress(int16_t /*index*/, int32_t /*bytes_sent*/, int32_t /*bytes_remaining*/) {}
    virtual void SendComplete(int16_t /*index*/) {}
};

namespace detail {
struct SharedPort;
}

// One socket object. A listening TCP object or a bound UDP object holds its port through the port table:
// several objects may hold one port (events go to the one that took it last), and a port its last holder
// closes stays open for a short grace time, so an object that closes and a successor that binds or listens
// again do not lose a datagram or a queued connection in between.
class Socket : public std::enable_shared_from_this<Socket> {
public:
    Socket(SocketEvents* events = nullptr, int16_t index = 0);
    virtual ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    int16_t Protocol() const { return protocol_; }
    void Protocol(int16_t p) { protocol_ = p; }
    int32_t LocalPort() const { return local_port_; }
    void LocalPort(int32_t port) { local_port_ = port; }
    // The local IPv4 address Listen and Bind take; empty for every address of the machine.
    const std::string& BindAddress() const { return bind_address_; }
    void BindAddress(std::string address) { bind_address_ = std::move(address); }
    const std::string& RemoteHost() const { return remote_host_; }
    void RemoteHost(std::string host) { remote_host_ = std::move(host); }
    int32_t RemotePort() const { return remote_port_; }
    void RemotePort(int32_t port) { remote_port_ = port; }
    const std::string& RemoteHostIP() const { return remote_ip_; }
    virtual int16_t State() const { return state_; }
    // Bytes waiting to be read.
    int32_t BytesReceived() const { return static_cast<int32_t>(rx_.size()); }
    // The port the object is actually bound to (LocalPort 0 asks for any free one).
    int32_t BoundPort() const;

    virtual bool Listen();
    virtual bool Bind();
    virtual bool Accept(int32_t request_id);
    virtual bool Close();
    bool SendData(std::string_view text);
    bool SendData(const std::vector<uint8_t>& bytes);
    // Reads what has arrived (TCP: everything so far; UDP: exactly one datagram) and clears it.
    bool GetData(std::string& text);
    bool GetData(std::vector<uint8_t>& bytes);

    int16_t index() const { return index_; }

private:
    friend struct detail::SharedPort;
    friend class SocketArray;
    // A member object taken up again after an unload: as new, but keeping the room of its buffers.
    void reuse(SocketEvents* events, int16_t index);
    bool send_bytes(const uint8_t* data, size_t size);
    // Listen and Bind: a closed object of the protocol takes its port and enters the state.
    bool take_port(int16_t protocol, int16_t state);
    bool hold_port(bool tcp);
    void release_port();
    void on_connection(HandleEvents ready);
    void raise_error(int16_t number, const std::string& description);
    // The datagram, its sender and reply address are in place: the data-arrival event.
    void deliver_datagram();
    void rearm();

    // The backend's steps. open_port: a new listening (tcp) or bound socket on the port and the bind
    // address, and the port it got (kNoHandle, pending error filled, when the system refuses). read_input:
    // reads what the connection holds into the unread bytes up to their limit; ended when the peer closed
    // or reset it, else the system's number of a failure (0: none) and error_text its text. send_datagram:
    // one datagram to the address. flush_output: sends what the connection takes now.
    OsHandle open_port(bool tcp, uint16_t port, uint16_t& bound_port);
    int read_input(bool& ended);
    static std::string error_text(int number);
    bool send_datagram(const uint8_t* data, size_t size, const std::vector<uint8_t>& to);
    // The remote host and port in the backend's address form; false when the name does not resolve.
    bool find_remote(std::vector<uint8_t>& address) const;
    void flush_output();

    SocketEvents* events_;
    int16_t index_;
    int16_t protocol_ = kTcpProtocol;
    int32_t local_port_ = 0;
    std::string bind_address_;
    std::string remote_host_;
    int32_t remote_port_ = 0;
    std::string remote_ip_;
    int16_t state_ = kStateClosed;

    std::shared_ptr<detail::SharedPort> port_;  // listening / bound
    OsHandle conn_;                             // connected TCP
    int conn_watch_ = 0;
    std::vector<uint8_t> rx_;
    std::vector<uint8_t> tx_;
    bool send_pending_ = false;
    int32_t bytes_sent_ = 0;
    bool have_datagram_ = false;
    std::vector<uint8_t> reply_addr_;  // sender of the last datagram, in the backend's address form
};

// The indexed array: member 0 exists from the start; others are created and destroyed by index.
class SocketArray {
public:
    explicit SocketArray(SocketEvents* events);
    ~SocketArray();
    SocketArray(const SocketArray&) = delete;
    SocketArray& operator=(const SocketArray&) = delete;

    // Creates member index; false (pending error) if it exists already or the index is negative.
    bool Load(int16_t index);
    // Closes and destroys member index; false for member 0 or a missing member. A member destroyed from
    // inside one of its own events lives until that event returns.
    bool Unload(int16_t index);
    bool exists(int16_t index) const { return members_.count(index) != 0; }
    // The member (nullptr when missing).
    Socket* operator()(int16_t index) const;
    std::vector<int16_t> indexes() const;
    size_t count() const { return members_.size(); }

    // Tests: puts an object of one's own in place of a member.
    void replace(int16_t index, std::shared_ptr<Socket> member);

private:
    SocketEvents* events_;
    std::map<int16_t, std::shared_ptr<Socket>> members_;
};

// Milliseconds a port stays open after its last holder closed it.
inline constexpr int kPortGraceMs = 3000;
// Unread bytes at which a connection stops reading until the data is fetched.
inline constexpr size_t kMaxUnreadBytes = 1 << 20;

} // namespace ktr::platform
