// The blocking client of tools, tests and benchmarks on Winsock: every wait is a select() bounded by the
// caller's timeout.
#include <chrono>
#include <cstring>

#include "platform/client_socket.h"
#include "platform/win32/win32_support.h"

namespace ktr::platform {
namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string wsa_text(int err) { return system_error_text(static_cast<unsigned long>(err)); }

bool resolve(const std::string& host, int port, int socktype, sockaddr_storage& out, int& len, std::string& error) {
    if (!ensure_winsock()) {
        error = "cannot start Winsock";
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = socktype;
    addrinfo* res = nullptr;
    const std::string service = std::to_string(port);
    const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &res);
    if (rc != 0 || !res) {
        error = "cannot resolve " + host + ": " + wsa_text(rc);
        return false;
    }
    std::memcpy(&out, res->ai_addr, res->ai_addrlen);
    len = static_cast<int>(res->ai_addrlen);
    freeaddrinfo(res);
    return true;
}

// Waits for one socket: readable, or (for_connect) writable or failed. 1 when ready, 0 on timeout.
int wait_for(SOCKET s, int timeout_ms, bool for_connect = false) {
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);
    timeval tv{};
    const int ms = timeout_ms < 0 ? 0 : timeout_ms;
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    // A failed connect shows in the exception set; a readable socket only in the read set.
    const int rc = for_connect ? select(0, nullptr, &ready, &failed, &tv) : select(0, &ready, nullptr, nullptr, &tv);
    return rc > 0 ? 1 : 0;
}

// The connection's error after a non-blocking connect (0: connected).
int connect_error(SOCKET s) {
    int err = 0;
    int len = sizeof err;
    getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len);
    return err;
}

} // namespace

ClientReply tcp_request(const std::string& host, int port, std::string_view request, int timeout_ms,
                        int settle_ms) {
    ClientReply reply;
    const auto start = Clock::now();
    sockaddr_storage addr{};
    int len = 0;
    if (!resolve(host, port, SOCK_STREAM, addr, len, reply.error)) return reply;
    const SOCKET s = socket(addr.ss_family, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        reply.error = wsa_text(WSAGetLastError());
        return reply;
    }
    u_long non_blocking = 1;
    ioctlsocket(s, FIONBIO, &non_blocking);
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), len) != 0 && WSAGetLastError() != WSAEWOULDBLOCK) {
        reply.error = "cannot connect: " + wsa_text(WSAGetLastError());
        closesocket(s);
        return reply;
    }
    if (wait_for(s, timeout_ms, true) <= 0) {
        reply.error = "cannot connect: timed out";
        closesocket(s);
        return reply;
    }
    if (const int err = connect_error(s); err != 0) {
        reply.error = "cannot connect: " + wsa_text(err);
        closesocket(s);
        return reply;
    }
    size_t sent = 0;
    while (sent < request.size()) {
        const int n = send(s, request.data() + sent, static_cast<int>(request.size() - sent), 0);
        if (n == SOCKET_ERROR) {
            if (WSAGetLastError() == WSAEWOULDBLOCK) {
                fd_set writable;
                FD_ZERO(&writable);
                FD_SET(s, &writable);
                timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
                if (select(0, nullptr, &writable, nullptr, &tv) <= 0) break;
                continue;
            }
            reply.error = "cannot send: " + wsa_text(WSAGetLastError());
            closesocket(s);
            return reply;
        }
        sent += static_cast<size_t>(n);
    }
    char buf[65536];
    for (;;) {
        const int left = reply.data.empty() ? timeout_ms - static_cast<int>(ms_since(start)) : settle_ms;
        if (wait_for(s, left) <= 0) break;
        const int n = recv(s, buf, sizeof buf, 0);
        if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) continue;
        if (n <= 0) break;
        if (reply.data.empty()) reply.round_trip_ms = ms_since(start);
        reply.data.append(buf, static_cast<size_t>(n));
    }
    closesocket(s);
    reply.ok = !reply.data.empty();
    if (!reply.ok) reply.error = "no reply within the timeout";
    return reply;
}

ClientReply udp_request(const std::string& host, int port, std::string_view request, int timeout_ms) {
    ClientReply reply;
    const auto start = Clock::now();
    sockaddr_storage addr{};
    int len = 0;
    if (!resolve(host, port, SOCK_DGRAM, addr, len, reply.error)) return reply;
    const SOCKET s = socket(addr.ss_family, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        reply.error = wsa_text(WSAGetLastError());
        return reply;
    }
    if (sendto(s, request.data(), static_cast<int>(request.size()), 0, reinterpret_cast<sockaddr*>(&addr), len) ==
        SOCKET_ERROR) {
        reply.error = "cannot send: " + wsa_text(WSAGetLastError());
        closesocket(s);
        return reply;
    }
    if (wait_for(s, timeout_ms) > 0) {
        std::string buf(65536, '\0');
        const int n = recv(s, buf.data(), static_cast<int>(buf.size()), 0);
        if (n >= 0) {
            buf.resize(static_cast<size_t>(n));
            reply.data = std::move(buf);
            reply.ok = true;
            reply.round_trip_ms = ms_since(start);
        } else if (WSAGetLastError() == WSAECONNRESET) {
            reply.error = "no reply: nothing listens on the port";  // the system's report of a refused datagram
        } else {
            reply.error = "no reply: " + wsa_text(WSAGetLastError());
        }
    } else {
        reply.error = "no reply within the timeout";
    }
    closesocket(s);
    return reply;
}

UdpEndpoint::UdpEndpoint(int port, const std::string& address) {
    if (!ensure_winsock()) return;
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    if (bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        closesocket(s);
        return;
    }
    socket_ = os_handle(s);
    int len = sizeof sa;
    getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
}

UdpEndpoint::~UdpEndpoint() {
    if (socket_.valid()) closesocket(socket_of(socket_));
}

bool UdpEndpoint::receive(std::string& data, int timeout_ms, std::string* from_host, int* from_port) {
    if (!socket_.valid() || wait_for(socket_of(socket_), timeout_ms) <= 0) return false;
    std::string buf(65536, '\0');
    sockaddr_in from{};
    int len = sizeof from;
    const int n = recvfrom(socket_of(socket_), buf.data(), static_cast<int>(buf.size()), 0,
                           reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) return false;
    buf.resize(static_cast<size_t>(n));
    data = std::move(buf);
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
    return sendto(socket_of(socket_), data.data(), static_cast<int>(data.size()), 0,
                  reinterpret_cast<sockaddr*>(&sa), sizeof sa) == static_cast<int>(data.size());
}

} // namespace ktr::platform
