// The steps of resolve_host that each backend supplies. For the datagram backends only.
#pragma once

#include <cstdint>
#include <string>

#include "platform/udp_datagram.h"

namespace ktr::platform::detail {

// The resolver can be used (false: pending error filled).
bool start_lookups();
// A numeric address, at once; false when host is not one.
bool lookup_number(const std::string& host, uint16_t port, NetAddress& out);
// The system resolver for at most timeout_ms. False (pending error filled) when the lookup could not even
// start; otherwise found holds the address, or nothing (length 0) when the name did not resolve in time.
bool lookup_name(const std::string& host, uint16_t port, int timeout_ms, NetAddress& found);

} // namespace ktr::platform::detail
