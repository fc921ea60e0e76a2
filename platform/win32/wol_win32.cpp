#include "platform/pending_error.h"
#include "platform/win32/win32_support.h"
#include "platform/wol.h"

namespace ktr::platform {
namespace {

bool parse_ipv4(const std::string& text, in_addr& out) { return inet_pton(AF_INET, text.c_str(), &out) == 1; }

class Socket {
public:
    Socket() : s_(ensure_winsock() ? ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP) : INVALID_SOCKET) {}
    ~Socket() {
        if (s_ != INVALID_SOCKET) ::closesocket(s_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    SOCKET get() const { return s_; }

private:
    SOCKET s_;
};

} // namespace

bool WakeOnLan::Send() {
    const auto mac = parse_mac_address(mac_);
    if (!mac) {
        set_pending_error(WSAEINVAL, "Invalid MAC address: " + mac_);
        return fail("Invalid MAC address: " + mac_);
    }
    in_addr broadcast{};
    if (!parse_ipv4(broadcast_, broadcast)) {
        set_pending_error(WSAEINVAL, "Invalid broadcast address: " + broadcast_);
        return fail("Invalid broadcast address: " + broadcast_);
    }
    in_addr local{};
    local.s_addr = htonl(INADDR_ANY);
    if (!local_.empty() && !parse_ipv4(local_, local)) {
        set_pending_error(WSAEINVAL, "Invalid local address: " + local_);
        return fail("Invalid local address: " + local_);
    }

    Socket s;
    auto socket_failure = [&](const char* step) {
        const int e = WSAGetLastError();
        set_pending_error_from_wsa(e);
        return fail(std::string(step) + ": " + system_error_text(static_cast<unsigned long>(e)));
    };
    if (s.get() == INVALID_SOCKET) return socket_failure("socket");
    const BOOL on = TRUE;
    if (setsockopt(s.get(), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) != 0)
        return socket_failure("SO_BROADCAST");
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr = local;
    from.sin_port = 0;
    if (bind(s.get(), reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) return socket_failure("bind");

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr = broadcast;
    if (!redirect_.empty() && !parse_ipv4(redirect_, to.sin_addr)) return fail("Invalid test address");
    to.sin_port = htons(port_);
    const std::string packet = magic_packet(*mac);
    const int sent = sendto(s.get(), packet.data(), static_cast<int>(packet.size()), 0,
                            reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (sent != static_cast<int>(packet.size())) return socket_failure("sendto");
    if (on_sent_) on_sent_("Magic packet sent.", mac_, broadcast_, local_);
    return true;
}

} // namespace ktr::platform
