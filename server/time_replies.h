// The UDP replies: the SNTP reply built from the requester's packet, the 48-byte acknowledgement text,
// their byte helpers, and the time texts of the traces.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/socket.h"

namespace ktr::server {

// SNTP reply to the request through the member (the one that received it). Any failure is traced and
// reported; nothing is sent then. Returns whether the reply went out.
bool send_NTP_time(platform::Socket& member, const std::vector<uint8_t>& request);
// The text as a 48-byte datagram (zero-padded). instance names the member in the trace.
bool send_UDP_string(platform::Socket& member, int16_t instance, const std::vector<uint8_t>& request,
                     const std::string& text);

// The two top bytes of a fraction of a second.
std::array<uint8_t, 2> frac_to_bytes(float fraction);
// label + " [i]" + byte in upper-case hex for each byte + " <-(Hex) size: " + count.
std::string trace_packet(const std::string& label, const std::vector<uint8_t>& bytes);
// The printable characters (32 to 126) of the bytes.
std::string bytes_to_text(const std::vector<uint8_t>& bytes);

// The reply packet itself (48 bytes) from the request, the seconds bytes and the fraction bytes; empty
// when the request cannot be answered (shorter than 48 bytes, first byte 255).
std::vector<uint8_t> build_ntp_reply(const std::vector<uint8_t>& request, const std::array<uint8_t, 4>& seconds,
                                     const std::array<uint8_t, 2>& fraction);

// UTC clock as H:MM:SS.mmm (hour without leading zero), from one reading.
std::string utc_clock_text();

} // namespace ktr::server
