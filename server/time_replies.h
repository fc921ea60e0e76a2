// The UDP replies sent through the member that received the request: the SNTP reply (built by the NTP
// codec) and the 48-byte acknowledgement text; the datagram helpers and the time text of the traces.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/date_value.h"
#include "platform/socket.h"

namespace ktr::server {

// SNTP reply to the request through the member (the one that received it). Any failure is traced and
// reported; nothing is sent then. Returns whether the reply went out.
bool send_NTP_time(platform::Socket& member, const std::vector<uint8_t>& request);
// The same with the time of a reading of the UTC clock the caller took for the request.
bool send_NTP_time(platform::Socket& member, const std::vector<uint8_t>& request, const platform::DateParts& utc);
// The text as a 48-byte datagram (zero-padded). instance names the member in the trace.
bool send_UDP_string(platform::Socket& member, int16_t instance, const std::vector<uint8_t>& request,
                     const std::string& text);

// label + " [i]" + byte in upper-case hex for each byte + " <-(Hex) size: " + count.
std::string trace_packet(const std::string& label, const std::vector<uint8_t>& bytes);
// The printable characters (32 to 126) of the bytes.
std::string bytes_to_text(const std::vector<uint8_t>& bytes);
// The same into text (its room kept from request to request).
void bytes_to_text(const std::vector<uint8_t>& bytes, std::string& text);

} // namespace ktr::server
