// Host names resolved under a bounded wait, the same on every backend: the backends supply the lookups.
#include "platform/udp_datagram.h"

#include "platform/pending_error.h"
#include "platform/udp_datagram_lookup.h"

namespace ktr::platform {
namespace {

constexpr int kHostNotFound = 11001;  // the number the platform gives for "host not found"

// Only letters, digits, '-', '.' and '_' can make a host name; anything else is refused without a lookup.
bool plausible_name(const std::string& host) {
    if (host.empty() || host.size() > 253) return false;
    for (const char c : host) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                        c == '.' || c == '_';
        if (!ok) return false;
    }
    return true;
}

} // namespace

std::optional<NetAddress> resolve_host(const std::string& host, uint16_t port, int timeout_ms) {
    if (!detail::start_lookups()) return std::nullopt;
    NetAddress out;
    if (detail::lookup_number(host, port, out)) return out;
    if (plausible_name(host)) {
        if (!detail::lookup_name(host, port, timeout_ms, out)) return std::nullopt;
        if (out.length != 0 && out.length <= out.bytes.size()) return out;
    }
    set_pending_error(kHostNotFound, "Host not found: " + host);
    return std::nullopt;
}

} // namespace ktr::platform
