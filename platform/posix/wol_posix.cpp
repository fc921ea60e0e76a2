// The wake-on-LAN packet's way out on POSIX sockets; the control itself is platform/wol.cpp.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/pending_error.h"
#include "platform/posix/posix_support.h"
#include "platform/wol.h"

namespace ktr::platform {
namespace {

class Socket {
public:
    Socket() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~Socket() {
        if (fd_ >= 0) ::close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

sockaddr_in socket_address(const std::array<uint8_t, 4>& host, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    std::memcpy(&address.sin_addr, host.data(), host.size());
    address.sin_port = htons(port);
    return address;
}

} // namespace

bool WakeOnLan::parse_ipv4(const std::string& text, Ipv4& address) {
    return inet_pton(AF_INET, text.c_str(), address.data()) == 1;
}

int32_t WakeOnLan::bad_argument_number() { return EINVAL; }

bool WakeOnLan::send_packet(const std::string& packet, const Ipv4& local, const Ipv4& broadcast) {
    Socket s;
    auto socket_failure = [&](const char* step) {
        const int e = errno;
        set_pending_error_from_errno(e);
        return fail(std::string(step) + ": " + std::strerror(e));
    };
    if (s.fd() < 0) return socket_failure("socket");
    const int on = 1;
    if (setsockopt(s.fd(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) return socket_failure("SO_BROADCAST");
    const sockaddr_in from = socket_address(local, 0);
    if (bind(s.fd(), reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) return socket_failure("bind");
    Ipv4 host = broadcast;
    if (!redirect_.empty() && !parse_ipv4(redirect_, host)) return fail("Invalid test address");
    const sockaddr_in to = socket_address(host, port_);
    const ssize_t sent =
        sendto(s.fd(), packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return sent == static_cast<ssize_t>(packet.size()) || socket_failure("sendto");
}

} // namespace ktr::platform
