#include "platform/wol.h"

#include "platform/pending_error.h"
#include "platform/text.h"

namespace ktr::platform {
namespace {

int hex_digit(char c) {
    if (is_digit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<std::array<uint8_t, 6>> parse_mac_address(std::string_view text) {
    std::array<uint8_t, 6> mac{};
    size_t group = 0;
    size_t i = 0;
    for (;;) {
        if (group == mac.size()) return std::nullopt;
        int value = 0;
        size_t digits = 0;
        while (i < text.size() && hex_digit(text[i]) >= 0) {
            value = value * 16 + hex_digit(text[i]);
            ++digits;
            ++i;
        }
        if (digits == 0 || digits > 2) return std::nullopt;
        mac[group++] = static_cast<uint8_t>(value);
        if (i == text.size()) break;
        if (text[i] != '-' && text[i] != ':') return std::nullopt;
        ++i;
    }
    if (group != mac.size()) return std::nullopt;
    return mac;
}

std::string magic_packet(const std::array<uint8_t, 6>& mac) {
    std::string packet(6, '\xFF');
    for (int i = 0; i < 16; ++i) packet.append(reinterpret_cast<const char*>(mac.data()), mac.size());
    return packet;
}

bool WakeOnLan::fail(const std::string& text) {
    if (on_error_) on_error_(text);
    return false;
}

bool WakeOnLan::invalid_address(const std::string& text) {
    set_pending_error(bad_argument_number(), text);
    return fail(text);
}

bool WakeOnLan::Send() {
    const auto mac = parse_mac_address(mac_);
    if (!mac) return invalid_address("Invalid MAC address: " + mac_);
    Ipv4 broadcast{};
    if (!parse_ipv4(broadcast_, broadcast)) return invalid_address("Invalid broadcast address: " + broadcast_);
    Ipv4 local{};  // any address of the machine
    if (!local_.empty() && !parse_ipv4(local_, local)) return invalid_address("Invalid local address: " + local_);
    if (!send_packet(magic_packet(*mac), local, broadcast)) return false;
    if (on_sent_) on_sent_("Magic packet sent.", mac_, broadcast_, local_);
    return true;
}

} // namespace ktr::platform
