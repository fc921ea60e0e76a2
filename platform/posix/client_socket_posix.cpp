#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/client_socket.h"
#include "platform/posix/posix_support.h"

namespace ktr::platform {
namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool resolve(const std::string& host, int port, int socktype, sockaddr_storage& out, socklen_t& len,
             std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = socktype;
    addrinfo* res = nullptr;
    const std::string service = std::to_string(port);
    const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &res);
    if (rc != 0 || !res) {
        error = "cannot resolve " + host + ": " + gai_strerror(rc);
        return false;
    }
    std::memcpy(&out, res->ai_addr, res->ai_addrlen);
    len = res->ai_addrlen;
    freeaddrinfo(res);
    return true;
}

int wait_readable(int fd, int timeout_ms) {
    pollfd p{fd, POLLIN, 0};
    int rc;
    do {
        rc = poll(&p, 1, timeout_ms < 0 ? 0 : timeout_ms);
    } while (rc < 0 && errno == EINTR);
    return rc;
}

} // namespace

ClientReply tcp_request(const std::string& host, int port, std::string_view request, int timeout_ms,
                        int settle_ms) {
    ClientReply reply;
    const auto start = Clock::now();
    sockaddr_storage addr{};
    socklen_t len = 0;
    if (!resolve(host, port, SOCK_STREAM, addr, len, reply.error)) return reply;
    const int fd = socket(addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        reply.error = std::strerror(errno);
        return reply;
    }
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 && errno != EINPROGRESS) {
        reply.error = std::string("cannot connect: ") + std::strerror(errno);
        close(fd);
        return reply;
    }
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, timeout_ms) <= 0) {
        reply.error = "cannot connect: timed out";
        close(fd);
        return reply;
    }
    int soerr = 0;
    socklen_t sl = sizeof soerr;
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &soerr, &sl);
    if (soerr != 0) {
        reply.error = std::string("cannot connect: ") + std::strerror(soerr);
        close(fd);
        return reply;
    }
    size_t sent = 0;
    while (sent < request.size()) {
        const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                pollfd w{fd, POLLOUT, 0};
                if (poll(&w, 1, timeout_ms) <= 0) break;
                continue;
            }
            reply.error = std::string("cannot send: ") + std::strerror(errno);
            close(fd);
            return reply;
        }
        sent += static_cast<size_t>(n);
    }
    char buf[65536];
    for (;;) {
        const int left = reply.data.empty() ? timeout_ms - static_cast<int>(ms_since(start)) : settle_ms;
        if (wait_readable(fd, left) <= 0) break;
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) break;
        if (reply.data.empty()) reply.round_trip_ms = ms_since(start);
        reply.data.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    reply.ok = !reply.data.empty();
    if (!reply.ok) reply.error = "no reply within the timeout";
    return reply;
}

ClientReply udp_request(const std::string& host, int port, std::string_view request, int timeout_ms) {
    ClientReply reply;
    const auto start = Clock::now();
    sockaddr_storage addr{};
    socklen_t len = 0;
    if (!resolve(host, port, SOCK_DGRAM, addr, len, reply.error)) return reply;
    const int fd = socket(addr.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        reply.error = std::strerror(errno);
        return reply;
    }
    if (sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&addr), len) < 0) {
        reply.error = std::string("cannot send: ") + std::strerror(errno);
        close(fd);
        return reply;
    }
    if (wait_readable(fd, timeout_ms) > 0) {
        std::string buf(65536, '\0');
        const ssize_t n = recv(fd, buf.data(), buf.size(), 0);
        if (n >= 0) {
            buf.resize(static_cast<size_t>(n));
            reply.data = std::move(buf);
            reply.ok = true;
            reply.round_trip_ms = ms_since(start);
        } else {
            reply.error = std::string("no reply: ") + std::strerror(errno);
        }
    } else {
        reply.error = "no reply within the timeout";
    }
    close(fd);
    return reply;
}

UdpEndpoint::UdpEndpoint(int port, const std::string& address) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        close(fd);
        return;
    }
    socket_ = handle_of(fd);
    socklen_t len = sizeof sa;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
}

UdpEndpoint::~UdpEndpoint() {
    if (socket_.valid()) close(fd_of(socket_));
}

bool UdpEndpoint::receive(std::string& data, int timeout_ms, std::string* from_host, int* from_port) {
    if (!socket_.valid() || (timeout_ms >= 0 && wait_readable(fd_of(socket_), timeout_ms) <= 0)) return false;
    // Left uninitialised and copied out at its size: a load client calls this for every reply.
    char buf[65536];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t n;
    do {
        n = recvfrom(fd_of(socket_), buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    } while (n < 0 && errno == EINTR && timeout_ms < 0);
    if (n < 0) return false;
    data.assign(buf, static_cast<size_t>(n));
    if (from_host) {
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        *from_host = text;
    }
    if (from_port) *from_port = ntohs(from.sin_port);
    return true;
}

bool UdpEndpoint::send_to(const std::string& host, int port, std::string_view data) {
    if (!socket_.valid()) return false;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, host.c_str(), &sa.sin_addr) != 1) return false;
    return sendto(fd_of(socket_), data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa) ==
           static_cast<ssize_t>(data.size());
}

} // namespace ktr::platform
