// UDP datagrams on Winsock. A name lookup runs on a short-lived thread of its own so that the caller can
// give up after a bounded wait: the system resolver has no timeout that a caller controls, and the module
// has one thread that must keep answering. A lookup given up on finishes unseen and frees its own state.
#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include "platform/pending_error.h"
#include "platform/udp_datagram.h"
#include "platform/udp_datagram_lookup.h"
#include "platform/win32/win32_support.h"

namespace ktr::platform {
namespace {

// Picks the first IPv4 address of a lookup result, else its first address.
bool pick_address(const addrinfo* list, uint16_t port, NetAddress& out) {
    const addrinfo* chosen = nullptr;
    for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
        if (a->ai_family == AF_INET) {
            chosen = a;
            break;
        }
        if (a->ai_family == AF_INET6 && chosen == nullptr) chosen = a;
    }
    if (chosen == nullptr || chosen->ai_addrlen > out.bytes.size()) return false;
    std::memcpy(out.bytes.data(), chosen->ai_addr, chosen->ai_addrlen);
    out.length = static_cast<uint32_t>(chosen->ai_addrlen);
    out.ipv6 = chosen->ai_family == AF_INET6;
    if (out.ipv6) {
        sockaddr_in6 sa{};
        std::memcpy(&sa, out.bytes.data(), sizeof sa);
        sa.sin6_port = htons(port);
        std::memcpy(out.bytes.data(), &sa, sizeof sa);
    } else {
        sockaddr_in sa{};
        std::memcpy(&sa, out.bytes.data(), sizeof sa);
        sa.sin_port = htons(port);
        std::memcpy(out.bytes.data(), &sa, sizeof sa);
    }
    return true;
}

bool lookup(const std::string& host, uint16_t port, int flags, NetAddress& out) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = flags;
    addrinfo* list = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0) return false;
    const bool ok = pick_address(list, port, out);
    freeaddrinfo(list);
    return ok;
}

SOCKET make_socket(int family) {
    if (!ensure_winsock()) return INVALID_SOCKET;
    const SOCKET s = ::socket(family, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        set_pending_error_from_wsa();
        return s;
    }
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
    return s;
}

} // namespace

namespace detail {

bool start_lookups() { return ensure_winsock(); }

bool lookup_number(const std::string& host, uint16_t port, NetAddress& out) {
    return lookup(host, port, AI_NUMERICHOST, out);
}

bool lookup_name(const std::string& host, uint16_t port, int timeout_ms, NetAddress& found) {
    std::promise<std::optional<NetAddress>> promise;
    auto answer = promise.get_future();
    try {
        std::thread([host, port, promise = std::move(promise)]() mutable {
            NetAddress address;
            const bool ok = lookup(host, port, AI_ADDRCONFIG, address) || lookup(host, port, 0, address);
            promise.set_value(ok ? std::optional<NetAddress>(address) : std::nullopt);
        }).detach();
    } catch (const std::system_error& e) {
        set_pending_error(e.code().value(), e.what());
        return false;
    }
    if (answer.wait_for(std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms)) != std::future_status::ready)
        return true;  // given up on: found stays empty
    if (const auto address = answer.get()) found = *address;
    return true;
}

} // namespace detail

UdpDatagramSocket::~UdpDatagramSocket() { close(); }

bool UdpDatagramSocket::open() {
    if (!v4_.valid()) v4_ = os_handle(make_socket(AF_INET));
    return v4_.valid();
}

bool UdpDatagramSocket::bind_loopback() {
    if (!open()) return false;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = 0;
    if (::bind(socket_of(v4_), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        set_pending_error_from_wsa();
        return false;
    }
    return true;
}

uint16_t UdpDatagramSocket::local_port() const {
    if (!v4_.valid()) return 0;
    sockaddr_in sa{};
    int len = sizeof sa;
    if (::getsockname(socket_of(v4_), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
    return ntohs(sa.sin_port);
}

bool UdpDatagramSocket::send_to(const NetAddress& to, std::string_view data) {
    OsHandle& endpoint = to.ipv6 ? v6_ : v4_;
    if (!endpoint.valid()) endpoint = os_handle(make_socket(to.ipv6 ? AF_INET6 : AF_INET));
    if (!endpoint.valid()) return false;
    const int n = ::sendto(socket_of(endpoint), data.data(), static_cast<int>(data.size()), 0,
                           reinterpret_cast<const sockaddr*>(to.bytes.data()), static_cast<int>(to.length));
    if (n != SOCKET_ERROR) return true;
    set_pending_error_from_wsa();
    return false;
}

std::optional<std::string> UdpDatagramSocket::receive(int timeout_ms) {
    if (!v4_.valid()) return std::nullopt;
    const SOCKET s = socket_of(v4_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    char buf[65536];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        timeval tv{static_cast<long>(left > 0 ? left / 1000 : 0), static_cast<long>(left > 0 ? (left % 1000) * 1000 : 0)};
        if (select(0, &readable, nullptr, nullptr, &tv) <= 0) return std::nullopt;
        const int n = ::recv(s, buf, sizeof buf, 0);
        if (n != SOCKET_ERROR) return std::string(buf, static_cast<size_t>(n));
        const int err = WSAGetLastError();
        // An earlier datagram's refusal (ICMP) is reported here: not a datagram, so keep waiting.
        if (err == WSAECONNRESET || err == WSAEWOULDBLOCK) continue;
        set_pending_error_from_wsa(err);
        return std::nullopt;
    }
}

void UdpDatagramSocket::close() {
    if (v4_.valid()) ::closesocket(socket_of(v4_));
    if (v6_.valid()) ::closesocket(socket_of(v6_));
    v4_ = v6_ = kNoHandle;
}

} // namespace ktr::platform
