#include "server/console_guard.h"

#include <map>

#include "config/security.h"
#include "diag/debug_log.h"
#include "diag/error_report.h"
#include "platform/clock.h"
#include "platform/text.h"

namespace ktr::server {
namespace {

constexpr int32_t kReportEveryMs = 60000;

} // namespace

bool console_admitted(const std::string& address) {
    if (config::security().console_allowed(address)) return true;
    KTR_TRACE("Refused request from " + address + ": not an allowed console");
    static std::map<std::string, int32_t> last_report;
    const int32_t now = platform::clock().tick_count();
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
    if (command == 'X') {
        if (!s.allow_relays) refused = "relay switching";
    } else if (platform::mid(request, 3, 7) == "Windows" || platform::mid(request, 3, 3) == "WOL") {
        if (!s.allow_power) refused = "power request";
    } else if (!s.allow_program_start) {
        refused = "program start";
    }
    if (!refused) return true;
    KTR_TRACE(std::string("Refused ") + refused + ": not allowed");
    diag::log_nt_event(std::string("Refused a console's ") + refused + ": not allowed by the Security key.",
                       platform::EventType::warning, 0);
    return false;
}

} // namespace ktr::server
