// UDP datagrams on POSIX sockets. A name lookup runs in a short-lived child process so that the caller
// can give up after a bounded wait: the system resolver has no timeout of its own that a caller controls,
// and the module has one thread that must keep answering.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/pending_error.h"
#include "platform/posix/posix_support.h"
#include "platform/udp_datagram.h"
#include "platform/udp_datagram_lookup.h"

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

bool read_all(int fd, void* buffer, size_t size, int timeout_ms) {
    auto* p = static_cast<unsigned char*>(buffer);
    size_t got = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (got < size) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                               std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd pfd{fd, POLLIN, 0};
        const int r = ::poll(&pfd, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        const ssize_t n = ::read(fd, p + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

int make_socket(int family) {
    const int fd = ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) set_pending_error_from_errno(errno);
    return fd;
}

} // namespace

namespace detail {

bool start_lookups() { return true; }

bool lookup_number(const std::string& host, uint16_t port, NetAddress& out) {
    return lookup(host, port, AI_NUMERICHOST, out);
}

bool lookup_name(const std::string& host, uint16_t port, int timeout_ms, NetAddress& found) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        set_pending_error_from_errno(errno);
        return false;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        set_pending_error_from_errno(errno);
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    if (child == 0) {
        ::close(fds[0]);
        NetAddress answer;
        const bool ok = lookup(host, port, AI_ADDRCONFIG, answer) || lookup(host, port, 0, answer);
        if (ok) {
            const ssize_t w = ::write(fds[1], &answer, sizeof answer);
            (void)w;
        }
        ::_exit(ok ? 0 : 1);
    }
    ::close(fds[1]);
    const bool ok = read_all(fds[0], &found, sizeof found, timeout_ms);
    ::close(fds[0]);
    if (!ok) ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!ok) found = NetAddress{};
    return true;
}

} // namespace detail

UdpDatagramSocket::~UdpDatagramSocket() { close(); }

bool UdpDatagramSocket::open() {
    if (!v4_.valid()) v4_ = handle_of(make_socket(AF_INET));
    return v4_.valid();
}

bool UdpDatagramSocket::bind_loopback() {
    if (!open()) return false;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = 0;
    if (::bind(fd_of(v4_), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        set_pending_error_from_errno(errno);
        return false;
    }
    return true;
}

uint16_t UdpDatagramSocket::local_port() const {
    if (!v4_.valid()) return 0;
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getsockname(fd_of(v4_), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
    return ntohs(sa.sin_port);
}

bool UdpDatagramSocket::send_to(const NetAddress& to, std::string_view data) {
    OsHandle& endpoint = to.ipv6 ? v6_ : v4_;
    if (!endpoint.valid()) endpoint = handle_of(make_socket(to.ipv6 ? AF_INET6 : AF_INET));
    if (!endpoint.valid()) return false;
    const int fd = fd_of(endpoint);
    for (;;) {
        const ssize_t n = ::sendto(fd, data.data(), data.size(), MSG_NOSIGNAL,
                                   reinterpret_cast<const sockaddr*>(to.bytes.data()), to.length);
        if (n >= 0) return true;
        if (errno == EINTR) continue;
        set_pending_error_from_errno(errno);
        return false;
    }
}

std::optional<std::string> UdpDatagramSocket::receive(int timeout_ms) {
    if (!v4_.valid()) return std::nullopt;
    pollfd pfd{fd_of(v4_), POLLIN, 0};
    int r;
    do {
        r = ::poll(&pfd, 1, timeout_ms);
    } while (r < 0 && errno == EINTR);
    if (r <= 0) return std::nullopt;
    char buf[65536];
    const ssize_t n = ::recv(fd_of(v4_), buf, sizeof buf, 0);
    if (n < 0) {
        set_pending_error_from_errno(errno);
        return std::nullopt;
    }
    return std::string(buf, static_cast<size_t>(n));
}

void UdpDatagramSocket::close() {
    if (v4_.valid()) ::close(fd_of(v4_));
    if (v6_.valid()) ::close(fd_of(v6_));
    v4_ = v6_ = kNoHandle;
}

} // namespace ktr::platform
