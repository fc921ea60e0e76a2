// The socket component's steps on non-blocking POSIX sockets; the component itself is platform/socket.cpp.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

#include "platform/pending_error.h"
#include "platform/posix/posix_support.h"
#include "platform/socket.h"
#include "platform/socket_port.h"

namespace ktr::platform {
namespace {

detail::Peer peer_of(const sockaddr_storage& addr) {
    const auto& in = reinterpret_cast<const sockaddr_in&>(addr);
    if (addr.ss_family != AF_INET) return {};
    return {true, std::bit_cast<std::array<uint8_t, 4>>(in.sin_addr), ntohs(in.sin_port)};
}

void fail_errno(int err) {
    if (err == EADDRINUSE) return detail::fail_address_in_use();
    if (err == ECONNRESET || err == EPIPE) return detail::fail_connection_reset();
    set_pending_error_from_errno(err);
}

} // namespace

namespace detail {

void close_socket_handle(OsHandle handle) { ::close(fd_of(handle)); }

void SharedPort::accept_connections() {
    for (int round = 0; round < 16 && !holders.empty(); ++round) {
        sockaddr_storage peer{};
        socklen_t len = sizeof peer;
        const int cfd = accept4(fd_of(handle), reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (cfd < 0) return;  // nothing more queued (or a transient failure: the next round retries)
        offer_connection(handle_of(cfd), peer_of(peer));
    }
}

void SharedPort::receive_datagrams() {
    for (int round = 0; round < 64 && !holders.empty(); ++round) {
        sockaddr_storage peer{};
        socklen_t len = sizeof peer;
        const ssize_t n = recvfrom(fd_of(handle), receive_room(), kReceiveRoom, MSG_TRUNC,
                                   reinterpret_cast<sockaddr*>(&peer), &len);
        if (n < 0) return;  // queue empty (ICMP errors of earlier sends also land here and are dropped)
        offer_datagram(std::min(static_cast<size_t>(n), kReceiveRoom), reinterpret_cast<const uint8_t*>(&peer), len,
                       peer_of(peer));
    }
}

} // namespace detail

OsHandle Socket::open_port(bool tcp, uint16_t port, uint16_t& bound_port) {
    const int fd = socket(AF_INET, (tcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        fail_errno(errno);
        return kNoHandle;
    }
    if (!tcp) {
        const int size = 1 << 20;  // room for bursts of requests (the kernel caps it at its limit)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    if (tcp) {
        const int one = 1;  // a restart may bind while old connections linger in TIME_WAIT
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(port);
    if (!bind_address_.empty() && inet_pton(AF_INET, bind_address_.c_str(), &addr.sin_addr) != 1) {
        ::close(fd);
        fail_errno(EADDRNOTAVAIL);
        return kNoHandle;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || (tcp && ::listen(fd, SOMAXCONN) != 0)) {
        const int err = errno;
        ::close(fd);
        fail_errno(err);
        return kNoHandle;
    }
    socklen_t len = sizeof addr;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) bound_port = ntohs(addr.sin_port);
    return handle_of(fd);
}

int Socket::read_input(bool& ended) {
    uint8_t buf[65536];
    while (rx_.size() < kMaxUnreadBytes) {
        const ssize_t n = ::read(fd_of(conn_), buf, sizeof buf);
        if (n > 0) {
            rx_.insert(rx_.end(), buf, buf + n);
            continue;
        }
        if (n == 0) ended = true;
        else if (errno == ECONNRESET || errno == EPIPE) ended = true;  // a reset ends the connection as a close does
        else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return errno;
        break;
    }
    return 0;
}

std::string Socket::error_text(int number) { return std::strerror(number); }

bool Socket::find_remote(std::vector<uint8_t>& address) const {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* res = nullptr;
    const std::string service = std::to_string(remote_port_ & 0xFFFF);
    if (getaddrinfo(remote_host_.c_str(), service.c_str(), &hints, &res) != 0 || !res) return false;
    const auto* bytes = reinterpret_cast<const uint8_t*>(res->ai_addr);
    address.assign(bytes, bytes + res->ai_addrlen);
    freeaddrinfo(res);
    return true;
}

bool Socket::send_datagram(const uint8_t* data, size_t size, const std::vector<uint8_t>& to) {
    sockaddr_storage dest{};
    std::memcpy(&dest, to.data(), std::min(to.size(), sizeof dest));
    if (sendto(fd_of(port_->handle), data, size, 0, reinterpret_cast<sockaddr*>(&dest),
               static_cast<socklen_t>(to.size())) < 0) {
        fail_errno(errno);
        return false;
    }
    return true;
}

void Socket::flush_output() {
    size_t sent = 0;
    while (conn_.valid() && sent < tx_.size()) {
        const ssize_t n = ::send(fd_of(conn_), tx_.data() + sent, tx_.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
    }
    tx_.erase(tx_.begin(), tx_.begin() + static_cast<std::ptrdiff_t>(sent));
    bytes_sent_ += static_cast<int32_t>(sent);
}

} // namespace ktr::platform
