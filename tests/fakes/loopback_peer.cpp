#include "fakes/loopback_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>

namespace ktr::testing {
namespace {

// Calls op (bind, connect, a send) on the socket with the address host:port; op returns 0 on success.
template <typename Op> bool at(Op op, int fd, uint16_t port, const char* host = "127.0.0.1") {
    sockaddr_in a{AF_INET, htons(port), {}, {}};
    inet_pton(AF_INET, host, &a.sin_addr);
    return op(fd, reinterpret_cast<const sockaddr*>(&a), socklen_t{sizeof a}) == 0;
}

bool wait_readable(int fd, int timeout_ms) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, timeout_ms) > 0;
}

} // namespace

uint16_t free_port() {
    for (int attempt = 0; attempt < 50; ++attempt)
        if (const uint16_t port = PortHolder(0, true).port(); PortHolder(port, false).ok()) return port;
    return 0;
}

void PeerSocket::close() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

uint16_t PeerSocket::port() const {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

bool TcpPeer::connect(uint16_t port, const char* source) {
    close();
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    return (!source || at(::bind, fd_, 0, source)) && at(::connect, fd_, port);
}

bool TcpPeer::send(const std::string& data) {
    ssize_t n = 0;
    for (size_t sent = 0; sent < data.size(); sent += static_cast<size_t>(n))
        if ((n = ::send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL)) <= 0) return false;
    return true;
}

std::string TcpPeer::receive(int timeout_ms) {
    char buf[4096];
    const ssize_t n = wait_readable(fd_, timeout_ms) ? ::recv(fd_, buf, sizeof buf, 0) : 0;
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

bool TcpPeer::closed_by_peer(int timeout_ms) {
    while (wait_readable(fd_, timeout_ms))
        if (receive(0).empty()) return true;  // readable yet nothing read: the end
    return false;
}

void TcpPeer::reset() {
    const linger l{1, 0};
    if (fd_ >= 0) setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close();
}

UdpPeer::UdpPeer(const char* source) {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    at(::bind, fd_, 0, source);
    const int size = 4 << 20;
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
}

bool UdpPeer::send_to(uint16_t port, const std::vector<uint8_t>& data) {
    const auto send = [&](int fd, const sockaddr* a, socklen_t n) {
        return sendto(fd, data.data(), data.size(), 0, a, n) == static_cast<ssize_t>(data.size()) ? 0 : -1;
    };
    return at(send, fd_, port);
}

bool UdpPeer::receive(std::vector<uint8_t>& data, int timeout_ms) {
    if (!wait_readable(fd_, timeout_ms)) return false;
    data.resize(65536);
    const ssize_t n = recv(fd_, data.data(), data.size(), 0);
    data.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return n >= 0;
}

PortHolder::PortHolder(uint16_t port, bool tcp) {
    // Not handed on to programs a test starts: the port is free again once the holder goes.
    fd_ = socket(AF_INET, (tcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
    if (!at(::bind, fd_, port, "0.0.0.0") || (tcp && listen(fd_, 4) != 0)) close();
}

} // namespace ktr::testing
