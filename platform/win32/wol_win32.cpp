// The wake-on-LAN packet's way out on Winsock; the control itself is platform/wol.cpp.
#include <cstring>

#include "platform/pending_error.h"
#include "platform/win32/win32_support.h"
#include "platform/wol.h"

namespace ktr::platform {
namespace {

// A UDP socket closed when the send is over.
struct Socket {
    SOCKET s = ensure_winsock() ? ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP) : INVALID_SOCKET;
    Socket() = default;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() {
        if (s != INVALID_SOCKET) ::closesocket(s);
    }
};

sockaddr_in socket_address(const std::array<uint8_t, 4>& host, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    std::memcpy(&address.sin_addr, host.data(), host.size());
    return address;
}

} // namespace

bool WakeOnLan::send_packet(const std::string& packet, const Ipv4& local, const Ipv4& broadcast) {
    const Socket socket;
    auto socket_failure = [&](const char* step) {
        const int e = WSAGetLastError();
        set_pending_error_from_wsa(e);
        return fail(std::string(step) + ": " + system_error_text(static_cast<unsigned long>(e)));
    };
    if (socket.s == INVALID_SOCKET) return socket_failure("socket");
    const BOOL on = TRUE;
    if (setsockopt(socket.s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) != 0)
        return socket_failure("SO_BROADCAST");
    const sockaddr_in from = socket_address(local, 0);
    if (bind(socket.s, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) return socket_failure("bind");
    Ipv4 host = broadcast;
    if (!redirect_.empty() && !parse_ipv4(redirect_, host)) return fail("Invalid test address");
    const sockaddr_in to = socket_address(host, port_);
    const int sent = sendto(socket.s, packet.data(), static_cast<int>(packet.size()), 0,
                            reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return sent == static_cast<int>(packet.size()) || socket_failure("sendto");
}

int32_t WakeOnLan::bad_argument_number() { return WSAEINVAL; }

bool WakeOnLan::parse_ipv4(const std::string& text, Ipv4& address) {
    return inet_pton(AF_INET, text.c_str(), address.data()) == 1;
}

} // namespace ktr::platform
