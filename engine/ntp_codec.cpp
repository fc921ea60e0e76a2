#include "engine/ntp_codec.h"

#include <algorithm>
#include <cmath>

#include "diag/debug_log.h"
#include "platform/date_value.h"
#include "platform/format.h"

namespace ktr::engine {
namespace {

constexpr double kSecondsPerDay = 86400.0;
constexpr double kNtpEpochDay = 2.0;  // 1900-01-01 on the date-value scale
constexpr double kNtpEraSeconds = 4294967296.0;
constexpr size_t kPacketSize = 48;

// The four bytes at offset, zero where the payload is too short (a short reply then reads as 1900 and
// is rejected by the year check).
std::array<uint8_t, 4> four_bytes_at(std::span<const uint8_t> payload, size_t offset) {
    std::array<uint8_t, 4> out{};
    for (size_t k = 0; k < out.size() && offset + k < payload.size(); ++k) out[k] = payload[offset + k];
    return out;
}

// The date text of the timestamp at offset; none (a protocol error) when it is no plausible date.
std::optional<std::string> reply_date_at(std::span<const uint8_t> payload, size_t offset) {
    const double date = byte_to_date(four_bytes_at(payload, offset));
    if (!check_reply_date(date)) {
        KTR_TRACE("Protocol Error.");
        return std::nullopt;
    }
    std::string text = platform::format_date(date, "General Date");
    KTR_TRACE("Date Received: " + text);
    return text;
}

// The fraction of the transmit timestamp.
float ntp_fraction(std::span<const uint8_t> payload) {
    const float fraction = byte_to_frac(four_bytes_at(payload, 44));
    KTR_TRACE("Fractional part: " + platform::format_number(fraction, "0.0000"));
    return fraction;
}

} // namespace

double byte_to_date(std::span<const uint8_t> bytes) {
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

std::array<uint8_t, 4> date_to_byte(double date) {
    std::array<uint8_t, 4> out{};
    double seconds = std::nearbyint((date - kNtpEpochDay) * kSecondsPerDay);
    if (!std::isfinite(seconds)) return out;
    // Era 1 begins in February 2036.
    seconds = std::fmod(seconds, kNtpEraSeconds);
    if (seconds < 0) seconds += kNtpEraSeconds;
    auto s = static_cast<uint32_t>(seconds);
    out[0] = static_cast<uint8_t>(s >> 24);
    out[1] = static_cast<uint8_t>(s >> 16);
    out[2] = static_cast<uint8_t>(s >> 8);
    out[3] = static_cast<uint8_t>(s);
    return out;
}

float byte_to_frac(std::span<const uint8_t> bytes) {
    if (bytes.size() < 2) return 0;
    return static_cast<float>((bytes[0] + bytes[1] / 256.0) / 256.0);
}

std::array<uint8_t, 2> frac_to_bytes(float fraction) {
    // Whole parts of a fraction below 1 always fit a byte; anything else is clamped rather than wrapped.
    const double scaled = static_cast<double>(fraction) * 256.0;
    const double f0 = std::clamp(std::floor(scaled), 0.0, 255.0);
    const double f1 = std::clamp(std::floor((scaled - f0) * 256.0), 0.0, 255.0);
    return {static_cast<uint8_t>(f0), static_cast<uint8_t>(f1)};
}

bool check_ntp_mode(uint8_t mode_byte) {
    if ((mode_byte & 3) == 3) {
        KTR_TRACE("-is a client (should be a server)");
        return false;
    }
    if ((mode_byte & 4) == 4) return true;
    KTR_TRACE("Unknown mode: " + std::to_string(mode_byte));
    return false;
}

bool check_reply_date(double date) {
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

std::optional<NtpReply> decode_ntp_reply(std::span<const uint8_t> payload) {
    auto date = reply_date_at(payload, 40);
    if (!date) return std::nullopt;
    return NtpReply{std::move(*date), ntp_fraction(payload)};
}

std::optional<std::string> decode_time_reply(std::span<const uint8_t> payload) { return reply_date_at(payload, 0); }

std::vector<uint8_t> build_ntp_reply(const std::vector<uint8_t>& request, const std::array<uint8_t, 4>& t,
                                     const std::array<uint8_t, 2>& f) {
    std::array<uint8_t, kPacketSize> p;
    if (!build_ntp_reply(request, t, f, p)) return {};
    return std::vector<uint8_t>(p.begin(), p.end());
}

bool build_ntp_reply(std::span<const uint8_t> request, const std::array<uint8_t, 4>& t,
                     const std::array<uint8_t, 2>& f, std::array<uint8_t, 48>& p) {
    if (request.size() < kPacketSize || request[0] == 255) return false;
    std::copy(request.begin(), request.begin() + kPacketSize, p.begin());
    p[0] = static_cast<uint8_t>(request[0] + 1);  // mode 3 (client) becomes 4 (server)
    p[1] = 1;                                      // stratum
    p[2] = 4;                                      // poll
    p[3] = 238;                                    // precision
    p[12] = 'Z';
    p[13] = 'N';
    p[14] = 'T';
    p[15] = 'K';
    for (size_t i = 0; i < 4; ++i) {
        p[16 + i] = t[i];
        p[32 + i] = t[i];
        p[40 + i] = t[i];
    }
    // The originate timestamp is the client's transmit timestamp when it sent one.
    if (request[40] > 0)
        for (size_t i = 0; i < 8; ++i) p[24 + i] = request[40 + i];
    p[36] = f[0];
    p[37] = f[1];
    p[44] = f[0];
    p[45] = f[1];
    p[46] = 0;
    p[47] = 0;
    return true;
}

} // namespace ktr::engine
