// The socket component's steps on non-blocking Winsock sockets; the component itself is platform/socket.cpp.
#include <algorithm>
#include <bit>
#include <cstring>

#include "platform/pending_error.h"
#include "platform/socket.h"
#include "platform/socket_port.h"
#include "platform/win32/win32_support.h"

#include <mstcpip.h>  // after the Winsock headers it needs

#ifndef SIO_UDP_CONNRESET  // not in every mingw-w64 header set
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace ktr::platform {
namespace {

// Winsock's numbers are the component's own.
void fail_wsa(int err) {
    if (err == WSAEADDRINUSE) return detail::fail_address_in_use();
    if (err == WSAECONNRESET || err == WSAECONNABORTED) return detail::fail_connection_reset();
    set_pending_error_from_wsa(err);
}

bool set_non_blocking(SOCKET s) {
    u_long on = 1;
    return ioctlsocket(s, FIONBIO, &on) == 0;
}

detail::Peer peer_of(const sockaddr_storage& addr) {
    const auto& in = reinterpret_cast<const sockaddr_in&>(addr);
    if (addr.ss_family != AF_INET) return {};
    return {true, std::bit_cast<std::array<uint8_t, 4>>(in.sin_addr), ntohs(in.sin_port)};
}

} // namespace

namespace detail {

// Every socket of the component closes here, so the pump stops counting it as one of its own first.
void close_socket_handle(OsHandle handle) {
    forget_socket(socket_of(handle));
    closesocket(socket_of(handle));
}

void SharedPort::accept_connections() {
    for (int round = 0; round < 16 && !holders.empty(); ++round) {
        sockaddr_storage peer{};
        int len = sizeof peer;
        const SOCKET cs = accept(socket_of(handle), reinterpret_cast<sockaddr*>(&peer), &len);
        if (cs == INVALID_SOCKET) {
            // A connection its peer reset while it waited is dropped by the system; the next may be fine.
            const int err = WSAGetLastError();
            if (err == WSAECONNRESET || err == WSAENOTCONN || err == WSAECONNABORTED) continue;
            return;  // nothing more queued (or a transient failure: the next round retries)
        }
        set_non_blocking(cs);  // inherited from the listener, but the reads rely on it
        note_socket(cs);
        offer_connection(os_handle(cs), peer_of(peer));
    }
}

void SharedPort::receive_datagrams() {
    for (int round = 0; round < 64 && !holders.empty(); ++round) {
        sockaddr_storage peer{};
        int len = sizeof peer;
        const int n = recvfrom(socket_of(handle), reinterpret_cast<char*>(receive_room()), static_cast<int>(kReceiveRoom),
                               0, reinterpret_cast<sockaddr*>(&peer), &len);
        bool truncated = false;
        if (n == SOCKET_ERROR) {
            const int err = WSAGetLastError();
            if (err == WSAECONNRESET || err == WSAENETRESET) continue;  // an earlier reply's ICMP error: dropped
            if (err != WSAEMSGSIZE) return;                              // queue empty
            truncated = true;  // the buffer holds the start of a datagram larger than any UDP payload
        }
        offer_datagram(truncated ? kReceiveRoom : static_cast<size_t>(n), reinterpret_cast<const uint8_t*>(&peer),
                       static_cast<size_t>(len), peer_of(peer));
    }
}

} // namespace detail

OsHandle Socket::open_port(bool tcp, uint16_t port, uint16_t& bound_port) {
    if (!ensure_winsock()) return kNoHandle;
    const SOCKET sock = socket(AF_INET, tcp ? SOCK_STREAM : SOCK_DGRAM, tcp ? IPPROTO_TCP : IPPROTO_UDP);
    if (sock == INVALID_SOCKET) {
        fail_wsa(WSAGetLastError());
        return kNoHandle;
    }
    // Nobody else may bind the port beside us, whatever options they use: a second listener fails as it
    // does on other systems.
    const BOOL on = TRUE;
    setsockopt(sock, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
    if (!tcp) {
        const int size = 1 << 20;  // room for bursts of requests (the system caps it at its limit)
        setsockopt(sock, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size);
        // A reply to a sender that has gone would otherwise fail the next receive with a reset.
        BOOL report_resets = FALSE;
        DWORD returned = 0;
        WSAIoctl(sock, SIO_UDP_CONNRESET, &report_resets, sizeof report_resets, nullptr, 0, &returned, nullptr,
                 nullptr);
    }
    set_non_blocking(sock);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(port);
    if (!bind_address_.empty() && inet_pton(AF_INET, bind_address_.c_str(), &addr.sin_addr) != 1) {
        closesocket(sock);
        fail_wsa(WSAEADDRNOTAVAIL);
        return kNoHandle;
    }
    if (::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || (tcp && ::listen(sock, SOMAXCONN) != 0)) {
        const int err = WSAGetLastError();
        closesocket(sock);
        fail_wsa(err);
        return kNoHandle;
    }
    int len = sizeof addr;
    if (getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &len) == 0) bound_port = ntohs(addr.sin_port);
    note_socket(sock);
    return os_handle(sock);
}

int Socket::read_input(bool& ended) {
    char buf[65536];
    while (rx_.size() < kMaxUnreadBytes) {
        const int n = ::recv(socket_of(conn_), buf, sizeof buf, 0);
        if (n > 0) {
            rx_.insert(rx_.end(), buf, buf + n);
            continue;
        }
        const int e = n == 0 ? 0 : WSAGetLastError();
        if (n == 0 || e == WSAECONNRESET || e == WSAECONNABORTED || e == WSAESHUTDOWN)
            ended = true;  // a reset ends the connection as a close does
        else if (e != WSAEWOULDBLOCK && e != WSAEINTR)
            return e;
        break;
    }
    return 0;
}

std::string Socket::error_text(int number) { return system_error_text(static_cast<unsigned long>(number)); }

bool Socket::find_remote(std::vector<uint8_t>& address) const {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* res = nullptr;
    if (getaddrinfo(remote_host_.c_str(), std::to_string(remote_port_ & 0xFFFF).c_str(), &hints, &res) != 0 || !res)
        return false;
    address.assign(reinterpret_cast<const uint8_t*>(res->ai_addr),
                   reinterpret_cast<const uint8_t*>(res->ai_addr) + res->ai_addrlen);
    freeaddrinfo(res);
    return true;
}

bool Socket::send_datagram(const uint8_t* data, size_t size, const std::vector<uint8_t>& to) {
    sockaddr_storage dest{};
    std::memcpy(&dest, to.data(), std::min(to.size(), sizeof dest));
    if (sendto(socket_of(port_->handle), reinterpret_cast<const char*>(data),
               static_cast<int>(size), 0, reinterpret_cast<sockaddr*>(&dest), static_cast<int>(to.size())) ==
        SOCKET_ERROR) {
        fail_wsa(WSAGetLastError());
        return false;
    }
    return true;
}

void Socket::flush_output() {
    size_t sent = 0;
    while (conn_.valid() && sent < tx_.size()) {
        const int n = ::send(socket_of(conn_), reinterpret_cast<const char*>(tx_.data() + sent),
                             static_cast<int>(std::min<size_t>(tx_.size() - sent, 1 << 30)), 0);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
    }
    tx_.erase(tx_.begin(), tx_.begin() + static_cast<std::ptrdiff_t>(sent));
    bytes_sent_ += static_cast<int32_t>(sent);
}

} // namespace ktr::platform
