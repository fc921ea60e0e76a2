#include "server/console_guard.h"

#include <map>

#include "config/security.h"
#include "diag/debug_log.h"
#include "diag/error_report.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "platform/text.h"

namespace ktr::server {
namespace {

constexpr int32_t kReportEveryMs = 60000;
constexpr size_t kMostTrackedAddresses = 4096;

} // namespace

bool udp_reply_admitted(const std::string& address) {
    const int32_t limit = config::security().udp_replies_per_second;
    if (limit <= 0) return true;
    struct Window {
        int32_t start = 0;
        int32_t replies = 0;
    };
    static std::map<std::string, Window> windows;
    const int32_t now = platform::clock().tick_count();
    // Many senders must not grow the table without end: windows that have run out are dropped.
    if (windows.size() > kMostTrackedAddresses) std::erase_if(windows, [now](const auto& w) {
        return now - w.second.start >= 1000;
    });
    Window& w = windows[address];
    if (w.replies == 0 || now - w.start >= 1000) w = {now, 0};
    if (++w.replies <= limit) return true;
    KTR_TRACE("Rate limit: no reply to " + address);
    return false;
}

bool console_admitted(const std::string& address) {
    if (config::security().console_allowed(address)) return true;
    KTR_TRACE("Refused request from " + address + ": not an allowed console");
    static std::map<std::string, int32_t> last_report;
    const int32_t now = platform::clock().tick_count();
    if (last_report.size() > kMostTrackedAddresses) std::erase_if(last_report, [now](const auto& r) {
        return now - r.second >= kReportEveryMs;
    });
    const auto it = last_report.find(address);
    if (it == last_report.end() || now - it->second >= kReportEveryMs) {
        last_report[address] = now;
        diag::log_nt_event("Refused a request from " + address + ": not in AllowedConsoles.",
                           platform::EventType::warning, 0);
    }
    return false;
}

bool action_admitted(const std::string& request, char command) {
    const config::SecuritySettings& s = config::security();
    const char* refused = nullptr;
    const char* why = "not allowed";
    if (command == 'X') {
        if (!s.allow_relays) refused = "relay switching";
    } else if (platform::mid(request, 3, 7) == "Windows" || platform::mid(request, 3, 3) == "WOL") {
        if (!s.allow_power) refused = "power request";
    } else if (!s.allow_program_start) {
        refused = "program start";
    } else if (!s.program_allowed(platform::mid(request, 3))) {
        refused = "program start";
        why = "not in AllowedPrograms";
    } else if (platform::reap_started_programs() >= s.max_programs) {
        refused = "program start";
        why = "MaxPrograms started programs are still running";
    }
    if (!refused) return true;
    KTR_TRACE(std::string("Refused ") + refused + ": " + why);
    diag::log_nt_event(std::string("Refused a console's ") + refused + ": " + why + " (the Security key).",
                       platform::EventType::warning, 0);
    return false;
}

} // namespace ktr::server
