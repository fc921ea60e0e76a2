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

bool parse_ipv4(const std::string& text, in_addr& out) { return inet_pton(AF_INET, text.c_str(), &out) == 1; }

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

} // namespace

bool WakeOnLan::Send() {
    const auto mac = parse_mac_address(mac_);
    if (!mac) {
        set_pending_error(EINVAL, "Invalid MAC address: " + mac_);
        return fail("Invalid MAC address: " + mac_);
    }
    in_addr broadcast{};
    if (!parse_ipv4(broadcast_, broadcast)) {
        set_pending_error(EINVAL, "Invalid broadcast address: " + broadcast_);
        return fail("Invalid broadcast address: " + broadcast_);
    }
    in_addr local{};
    local.s_addr = htonl(INADDR_ANY);
    if (!local_.empty() && !parse_ipv4(local_, local)) {
        set_pending_error(EINVAL, "Invalid local address: " + local_);
        return fail("Invalid local address: " + local_);
    }

    Socket s;
    auto socket_failure = [&](const char* step) {
        const int e = errno;
        set_pending_error_from_errno(e);
        return fail(std::string(step) + ": " + std::strerror(e));
    };
    if (s.fd() < 0) return socket_failure("socket");
    const int on = 1;
    if (setsockopt(s.fd(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) return socket_failure("SO_BROADCAST");
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr = local;
    from.sin_port = 0;
    if (bind(s.fd(), reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) return socket_failure("bind");

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr = broadcast;
    if (!redirect_.empty() && !parse_ipv4(redirect_, to.sin_addr)) return fail("Invalid test address");
    to.sin_port = htons(port_);
    const std::string packet = magic_packet(*mac);
    const ssize_t sent =
        sendto(s.fd(), packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (sent != static_cast<ssize_t>(packet.size())) return socket_failure("sendto");
    if (on_sent_) on_sent_("Magic packet sent.", mac_, broadcast_, local_);
    return true;
}

} // namespace ktr::platform
