#include "records/syslog.h"

#include <optional>
#include <string>

#include "diag/debug_log.h"
#include "platform/clock.h"
#include "platform/pending_error.h"
#include "platform/udp_datagram.h"

namespace ktr::records {
namespace {

uint16_t g_port = kSyslogPort;

// Resolved addresses are kept a while so that each event does not pay for a lookup; a failed lookup is
// kept for a shorter while so that a dead name server costs one bounded wait a minute at most.
constexpr int32_t kKeepResolvedMs = 10 * 60 * 1000;
constexpr int32_t kKeepFailedMs = 60 * 1000;

struct ResolvedServer {
    std::string server;
    uint16_t port = 0;
    std::optional<platform::NetAddress> address;
    int32_t since = 0;
    bool valid = false;
};

platform::UdpDatagramSocket& syslog_socket() {
    static platform::UdpDatagramSocket socket;
    return socket;
}

std::optional<platform::NetAddress> resolve_server(const std::string& server) {
    static ResolvedServer cache;
    const int32_t now = platform::clock().tick_count();
    // Unsigned difference so the tick counter's wrap does not matter.
    const uint32_t age = static_cast<uint32_t>(now) - static_cast<uint32_t>(cache.since);
    if (cache.valid && cache.server == server && cache.port == g_port &&
        age < static_cast<uint32_t>(cache.address ? kKeepResolvedMs : kKeepFailedMs)) {
        if (!cache.address) platform::set_pending_error(11001, "Host not found: " + server);
        return cache.address;
    }
    cache.server = server;
    cache.port = g_port;
    cache.address = platform::resolve_host(server, g_port, kSyslogResolveWaitMs);
    cache.since = now;
    cache.valid = true;
    return cache.address;
}

} // namespace

void set_syslog_port(uint16_t port) { g_port = port == 0 ? kSyslogPort : port; }

bool send_syslog(std::string_view text, std::string_view tag, std::string_view server, int16_t facility,
                 int16_t event_type) {
    if (server.empty()) {
        KTR_TRACE("No Target IP address or Hostname specified -  No message sent");
        return false;
    }
    // The priority is a 16-bit value: out of that range the send is abandoned like any other failure.
    const int32_t pri = static_cast<int32_t>(facility) * 8 + event_type + 2;
    if (pri < INT16_MIN || pri > INT16_MAX) return false;
    return syslog_write(text, tag, "", server, static_cast<int16_t>(pri));
}

bool syslog_write(std::string_view text, std::string_view tag, std::string_view host_part, std::string_view server,
                  int16_t pri) {
    try {
        platform::UdpDatagramSocket& socket = syslog_socket();
        if (!socket.is_open()) {
            if (!socket.open()) {
                platform::clear_pending_error();
                return false;
            }
            KTR_TRACE("Syslog init OK");
        }

        std::string datagram = "<" + std::to_string(pri) + ">";
        datagram += host_part;
        datagram += " ";
        datagram += tag;
        datagram += ": ";
        datagram += text;

        const std::optional<platform::NetAddress> to = resolve_server(std::string(server));
        if (!to || !socket.send_to(*to, datagram)) {
            platform::clear_pending_error();
            return false;
        }
        KTR_TRACE("syslog : Message:_" + datagram + "_ Sent OK.");
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace ktr::records
