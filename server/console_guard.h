// The allow-list of consoles at the listener: a request from an address that is not allowed gets no
// reply, no action and no socket renewal.
#pragma once

#include <string>

namespace ktr::server {

// Whether the address may give orders; a refusal is traced, and reported in the system event log at
// most once a minute per address.
bool console_admitted(const std::string& address);

// Whether the console's remote action or relay request is allowed; a refusal is traced and reported.
// request is the whole request text ("C+..." or "X+..."), its command letter first.
bool action_admitted(const std::string& request, char command);

// Whether a UDP reply may go to the address under the per-source rate limit ("UdpRateLimit" replies a
// second); a datagram over the limit gets no reply, no action and no socket renewal.
bool udp_reply_admitted(const std::string& address);

} // namespace ktr::server
