// The NTP codec: seconds since 1900 as four big-endian bytes, fractions of a second, the checks and the
// decoding of a received SNTP or Time-protocol reply, and the SNTP reply the module sends.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ktr::engine {

// Seconds since 1900 (four bytes, most significant first) to a date value (UTC), and back to the nearest
// second; dates outside era 0 wrap as NTP timestamps do.
double byte_to_date(std::span<const uint8_t> bytes);
std::array<uint8_t, 4> date_to_byte(double date);

// The top 16 bits of an NTP fraction (first two bytes) as a fraction of a second, and back.
float byte_to_frac(std::span<const uint8_t> bytes);
std::array<uint8_t, 2> frac_to_bytes(float fraction);

// True for the server-side modes (4 to 6); a client (3, 7) or an unknown mode is traced and refused.
bool check_ntp_mode(uint8_t mode_byte);
// A valid date of 2001 or later: a zero or garbage timestamp (1900) is refused.
bool check_reply_date(double date);

// What an SNTP reply gave: the transmit time as the general date text and its fraction of a second.
struct NtpReply {
    std::string date;
    float fraction = 0;
};
// None when the transmit timestamp is no plausible date. The mode byte is left to the caller, who knows
// whether the packet came from a time server (check_ntp_mode) or from the console.
std::optional<NtpReply> decode_ntp_reply(std::span<const uint8_t> payload);
// The date text of a Time-protocol reply (its first four bytes); none when it is no plausible date.
std::optional<std::string> decode_time_reply(std::span<const uint8_t> payload);

// The SNTP reply (48 bytes) to a request, carrying the seconds and fraction bytes of the clock; empty when
// the request cannot be answered (shorter than 48 bytes, first byte 255).
std::vector<uint8_t> build_ntp_reply(const std::vector<uint8_t>& request, const std::array<uint8_t, 4>& seconds,
                                     const std::array<uint8_t, 2>& fraction);
// The same into the caller's buffer (a reply per request allocates nothing); false when it cannot be answered.
bool build_ntp_reply(std::span<const uint8_t> request, const std::array<uint8_t, 4>& seconds,
                     const std::array<uint8_t, 2>& fraction, std::array<uint8_t, 48>& reply);

} // namespace ktr::engine
