// NTP and Time-protocol timestamps: seconds since 1900 as four big-endian bytes, the NTP fraction, and
// the plausibility checks on a received reply.
#include <cmath>
#include <string>

#include "diag/debug_log.h"
#include "engine/nist_timeset.h"
#include "platform/date_value.h"
#include "platform/format.h"

namespace ktr::engine {
namespace {

constexpr double kSecondsPerDay = 86400.0;
constexpr double kNtpEpochDay = 2.0;  // 1900-01-01 on the date-value scale
constexpr double kNtpEraSeconds = 4294967296.0;

// The four bytes at offset, zero where the payload is too short (a short reply then reads as 1900 and
// is rejected by the year check).
std::array<uint8_t, 4> four_bytes_at(std::span<const uint8_t> payload, size_t offset) {
    std::array<uint8_t, 4> out{};
    for (size_t k = 0; k < out.size() && offset + k < payload.size(); ++k) out[k] = payload[offset + k];
    return out;
}

// A plausible reply date becomes the date text; anything else is a protocol error.
bool accept_reply_date(bool plausible, double date, std::string& date_text) {
    if (!plausible) {
        KTR_TRACE("Protocol Error.");
        return false;
    }
    date_text = platform::format_date(date, "General Date");
    KTR_TRACE("Date Received: " + date_text);
    return true;
}

} // namespace

double CNISTtimeset::byte_to_date(std::span<const uint8_t> bytes) {
    if (bytes.size() < 4) {
        KTR_TRACE("byte_to_date: array error");
        return 0;
    }
    const double seconds = bytes[0] * 16777216.0 + bytes[1] * 65536.0 + bytes[2] * 256.0 + bytes[3];
    const double date = seconds / kSecondsPerDay + kNtpEpochDay;
    KTR_TRACE("Byte to Date: " + platform::format_date(date, "Long Date") + " " +
              platform::format_date(date, "hh:mm:ss"));
    return date;
}

std::array<uint8_t, 4> CNISTtimeset::date_to_byte(double date) {
    std::array<uint8_t, 4> out{};
    double seconds = std::nearbyint((date - kNtpEpochDay) * kSecondsPerDay);
    if (!std::isfinite(seconds)) return out;
    // Dates outside era 0 wrap as NTP timestamps do (era 1 begins in February 2036).
    seconds = std::fmod(seconds, kNtpEraSeconds);
    if (seconds < 0) seconds += kNtpEraSeconds;
    auto s = static_cast<uint32_t>(seconds);
    out[0] = static_cast<uint8_t>(s >> 24);
    out[1] = static_cast<uint8_t>(s >> 16);
    out[2] = static_cast<uint8_t>(s >> 8);
    out[3] = static_cast<uint8_t>(s);
    return out;
}

float CNISTtimeset::byte_to_frac(std::span<const uint8_t> bytes) {
    if (bytes.size() < 2) return 0;
    return static_cast<float>((bytes[0] + bytes[1] / 256.0) / 256.0);
}

bool CNISTtimeset::check_ntp_mode(uint8_t mode_byte) {
    if ((mode_byte & 3) == 3) {
        KTR_TRACE("-is a client (should be a server)");
        return false;
    }
    if ((mode_byte & 4) == 4) return true;
    KTR_TRACE("Unknown mode: " + std::to_string(mode_byte));
    return false;
}

float CNISTtimeset::ntp_fraction(std::span<const uint8_t> payload) {
    const auto bytes = four_bytes_at(payload, 44);
    const float fraction = byte_to_frac(bytes);
    KTR_TRACE("Fractional part: " + platform::format_number(fraction, "0.0000"));
    return fraction;
}

bool CNISTtimeset::check_reply_date(double date) {
    if (!std::isfinite(date) || date < platform::kMinDate || date > platform::kMaxDate) {
        KTR_TRACE("Bad date");
        return false;
    }
    if (platform::date_to_parts(date).year < 2001) {
        KTR_TRACE("Bad year");
        return false;
    }
    return true;
}

bool CNISTtimeset::decode_ntp_reply(std::span<const uint8_t> payload) {
    const double date = byte_to_date(four_bytes_at(payload, 40));
    if (!accept_reply_date(check_reply_date(date), date, NISTDate_)) return false;
    NISTSecFrac_ = ntp_fraction(payload);
    NISTServerHealth_ = check_ntp_mode(payload.empty() ? 0 : payload[0]) ? 0 : 3;
    return true;
}

bool CNISTtimeset::decode_time_reply(std::span<const uint8_t> payload) {
    const double date = byte_to_date(four_bytes_at(payload, 0));
    return accept_reply_date(check_reply_date(date), date, NISTDate_);
}

} // namespace ktr::engine
