// The socket component's shared parts that its backends reach into: the port a listening or bound object
// holds, and the steps each backend supplies. For the socket backends only.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/event_pump.h"
#include "platform/handle.h"
#include "platform/socket.h"

namespace ktr::platform::detail {

// A peer's IPv4 address and port, as the backend read them from the system's address form (the
// component's sockets are IPv4 only; anything else has no address text).
struct Peer {
    bool ipv4 = false;
    std::array<uint8_t, 4> host{};
    int32_t port = 0;
};

// A listening or bound socket with the objects that hold it. It outlives its last holder by the grace
// time so a successor takes over the system's queue (datagrams, pending connections) intact.
struct SharedPort : std::enable_shared_from_this<SharedPort> {
    bool tcp = true;
    uint16_t port = 0;
    OsHandle handle;
    int watch = 0;
    std::vector<Socket*> holders;  // in the order they took the port; events go to the last
    Timer grace;

    ~SharedPort();
    void on_ready();
    void update_interest() { set_watch_interest(watch, holders.empty() ? HandleEvents::none : HandleEvents::input); }
    // The connection-request event for a connection the backend accepted; one nobody accepts is closed.
    void offer_connection(OsHandle connection, const Peer& peer);
    // The data-arrival event for a datagram the backend received into the room receive_room() lends;
    // from is its sender in the backend's address form.
    void offer_datagram(size_t size, const uint8_t* from, size_t from_size, const Peer& peer);
    static uint8_t* receive_room();
    static constexpr size_t kReceiveRoom = 65536;

    // Backend: takes the connections (TCP) or datagrams (UDP) the system has queued, a bounded number of
    // them per round.
    void accept_connections();
    void receive_datagrams();
};

// Backend: closes a socket of the component.
void close_socket_handle(OsHandle handle);

// The two failures that callers tell apart keep the component's numbers and texts.
void fail_address_in_use();
void fail_connection_reset();

} // namespace ktr::platform::detail
