#include "fakes/loopback_peer.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <utility>

namespace ktr::testing {
namespace {

#ifdef _WIN32
using Socket = SOCKET;
constexpr int kNoSignal = 0;  // a closed peer gives an error, never a signal
// Winsock is started before the first peer and left running for the process.
const bool winsock_started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}();
// Not handed on to programs a test starts (sockets are inheritable on Windows otherwise).
Socket new_socket(int type) { return WSASocketW(AF_INET, type, 0, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT); }
void close_socket(Socket s) { closesocket(s); }
#else
using Socket = int;
constexpr int kNoSignal = MSG_NOSIGNAL;
Socket new_socket(int type) { return socket(AF_INET, type | SOCK_CLOEXEC, 0); }
void close_socket(Socket s) { ::close(s); }
#endif

Socket sock(intptr_t fd) { return static_cast<Socket>(fd); }

// Calls op (bind, connect, a send) on the socket with the address host:port; op returns 0 on success.
template <typename Op> bool at(Op op, intptr_t fd, uint16_t port, const char* host = "127.0.0.1") {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, host, &a.sin_addr);
    return op(sock(fd), reinterpret_cast<const sockaddr*>(&a), socklen_t{sizeof a}) == 0;
}

bool wait_readable(intptr_t fd, int timeout_ms) {
#ifdef _WIN32
    fd_set set;
    FD_ZERO(&set);
    FD_SET(sock(fd), &set);
    timeval t{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    return select(0, &set, nullptr, nullptr, &t) > 0;
#else
    pollfd p{static_cast<int>(fd), POLLIN, 0};
    return poll(&p, 1, timeout_ms) > 0;
#endif
}

} // namespace

uint16_t free_port() {
    for (int attempt = 0; attempt < 50; ++attempt)
        if (const uint16_t port = PortHolder(0, true).port(); PortHolder(port, false).ok()) return port;
    return 0;
}

void PeerSocket::close() {
    if (fd_ != -1) close_socket(sock(std::exchange(fd_, -1)));
}

uint16_t PeerSocket::port() const {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(sock(fd_), reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

bool TcpPeer::connect(uint16_t port, const char* source) {
    close();
    fd_ = static_cast<intptr_t>(new_socket(SOCK_STREAM));
    return (!source || at(::bind, fd_, 0, source)) && at(::connect, fd_, port);
}

bool TcpPeer::send(const std::string& data) {
    for (size_t sent = 0, n = 0; sent < data.size(); sent += n) {
        const auto r = ::send(sock(fd_), data.data() + sent, static_cast<int>(data.size() - sent), kNoSignal);
        if (r <= 0) return false;
        n = static_cast<size_t>(r);
    }
    return true;
}

std::string TcpPeer::receive(int timeout_ms) {
    char buf[4096];
    const auto n = wait_readable(fd_, timeout_ms) ? ::recv(sock(fd_), buf, sizeof buf, 0) : 0;
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

bool TcpPeer::closed_by_peer(int timeout_ms) {
    while (wait_readable(fd_, timeout_ms))
        if (receive(0).empty()) return true;  // readable yet nothing read: the end
    return false;
}

void TcpPeer::reset() {
    linger l{};
    l.l_onoff = 1;
    l.l_linger = 0;
    if (fd_ != -1) setsockopt(sock(fd_), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
    close();
}

UdpPeer::UdpPeer(const char* source) {
    fd_ = static_cast<intptr_t>(new_socket(SOCK_DGRAM));
    at(::bind, fd_, 0, source);
    const int size = 4 << 20;
    setsockopt(sock(fd_), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size);
#ifdef _WIN32
    // A datagram to a port nobody holds would fail the next receive with a reset; POSIX reports nothing.
    BOOL report = FALSE;
    DWORD returned = 0;
    WSAIoctl(sock(fd_), SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
#endif
}

bool UdpPeer::send_to(uint16_t port, const std::vector<uint8_t>& data) {
    const auto send = [&](Socket s, const sockaddr* a, socklen_t n) {
        const auto sent = sendto(s, reinterpret_cast<const char*>(data.data()), static_cast<int>(data.size()), 0, a, n);
        return sent >= 0 && static_cast<size_t>(sent) == data.size() ? 0 : -1;
    };
    return at(send, fd_, port);
}

bool UdpPeer::receive(std::vector<uint8_t>& data, int timeout_ms) {
    if (!wait_readable(fd_, timeout_ms)) return false;
    data.resize(65536);
    const auto n = recv(sock(fd_), reinterpret_cast<char*>(data.data()), static_cast<int>(data.size()), 0);
    data.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return n >= 0;
}

PortHolder::PortHolder(uint16_t port, bool tcp) {
    // Not handed on to programs a test starts: the port is free again once the holder goes.
    fd_ = static_cast<intptr_t>(new_socket(tcp ? SOCK_STREAM : SOCK_DGRAM));
    if (!at(::bind, fd_, port, "0.0.0.0") || (tcp && listen(sock(fd_), 4) != 0)) close();
}

} // namespace ktr::testing
