#include "server/time_replies.h"

#include <array>
#include <cstdio>
#include <string_view>

#include "diag/debug_log.h"
#include "diag/error_report.h"
#include "engine/ntp_codec.h"
#include "engine/time_util.h"
#include "platform/clock.h"
#include "platform/pending_error.h"

namespace ktr::server {
namespace {

constexpr size_t kPacketSize = 48;

} // namespace

std::string trace_packet(const std::string& label, const std::vector<uint8_t>& bytes) {
    std::string text = label;
    char hex[8];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(bytes[i]));
        text += " [" + std::to_string(i) + "]" + hex;
    }
    text += " <-(Hex) size: " + std::to_string(bytes.size());
    return text;
}

std::string bytes_to_text(const std::vector<uint8_t>& bytes) {
    std::string text;
    bytes_to_text(bytes, text);
    return text;
}

void bytes_to_text(const std::vector<uint8_t>& bytes, std::string& text) {
    text.clear();
    for (const uint8_t b : bytes)
        if (b >= 32 && b < 127) text += static_cast<char>(b);
}

bool send_NTP_time(platform::Socket& member, const std::vector<uint8_t>& request) {
    return send_NTP_time(member, request, platform::clock().utc_now());
}

bool send_NTP_time(platform::Socket& member, const std::vector<uint8_t>& request, const platform::DateParts& utc) {
    // Seconds and fraction from the one reading, so they always belong to the same second.
    platform::DateParts whole = utc;
    whole.millisecond = 0;
    const auto seconds = engine::date_to_byte(platform::parts_to_date(whole));
    const auto fraction = engine::frac_to_bytes(engine::clock_fraction(utc));
    std::array<uint8_t, kPacketSize> p;
    bool sent = false;
    if (engine::build_ntp_reply(request, seconds, fraction, p)) {
        KTR_TRACE("SERVER NTP Ports:----------Remote: " + std::to_string(member.RemotePort()) +
                  " Local: " + std::to_string(member.LocalPort()));
        sent = member.SendData(std::string_view(reinterpret_cast<const char*>(p.data()), p.size()));
    } else {
        platform::set_pending_error(9, "Subscript out of range");
    }
    if (!sent) {
        KTR_TRACE("Port Error in sending NTP data");
        diag::error_report(diag::Severity::error, "Port Error in sending NTP data.", "frmMainKtrsvc", "send_NTP_time", 0);
        return false;
    }
    KTR_TRACE(trace_packet("SERVER Sent NTP time:", std::vector<uint8_t>(p.begin(), p.end())));
    return true;
}

bool send_UDP_string(platform::Socket& member, int16_t instance, const std::vector<uint8_t>&,
                     const std::string& text) {
    std::vector<uint8_t> b(kPacketSize, 0);
    bool sent = false;
    if (text.size() <= kPacketSize) {
        for (size_t i = 0; i < text.size(); ++i) b[i] = static_cast<uint8_t>(text[i]);
        sent = member.SendData(b);
    } else {
        platform::set_pending_error(9, "Subscript out of range");
    }
    if (!sent) {
        KTR_TRACE("Port Error in sending UDP data");
        diag::error_report(diag::Severity::error, "Port Error in sending UDP data.", "frmMainKtrsvc", "send_UDP_string", 0);
        return false;
    }
    KTR_TRACE(trace_packet("CLIENT Sent UDP string:", b));
    KTR_TRACE("Local port: " + std::to_string(member.LocalPort()) + ", remote port: " +
              std::to_string(member.RemotePort()) + ", Instance: " + std::to_string(instance));
    return true;
}

} // namespace ktr::server
