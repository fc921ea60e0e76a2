#include "server/remote_actions.h"

#include <vector>

#include "diag/debug_log.h"
#include "platform/convert.h"
#include "platform/pending_error.h"
#include "platform/power.h"
#include "platform/process.h"
#include "platform/system.h"
#include "platform/text.h"

namespace ktr::server {
namespace {

using platform::mid;

std::vector<std::string> split_at(const std::string& text, char delimiter) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        const auto pos = text.find(delimiter, start);
        out.push_back(text.substr(start, pos == std::string::npos ? std::string::npos : pos - start));
        if (pos == std::string::npos) return out;
        start = pos + 1;
    }
}

uint8_t flag_of(const std::string& word) {
    if (word == "Shutdown") return platform::kExitShutdown;
    if (word == "Reboot") return platform::kExitReboot;
    if (word == "(forced)") return platform::kExitForce;
    if (word == "Power-off") return platform::kExitPowerOff;
    return 0;  // "Logoff" and every other word
}

void trace_step_error(const char* text) {
    const uint32_t code = platform::GetLastError();
    if (code != 0) KTR_TRACE(text + std::to_string(code));
}

} // namespace

RemoteActions::RemoteActions() {
    wol_.OnSent([this](const std::string& text, const std::string& mac, const std::string& broadcast,
                       const std::string& local) { ctlUltraWOL1_Sent(text, mac, broadcast, local); });
    wol_.OnError([this](const std::string& text) { ctlUltraWOL1_Error(text); });
}

std::string RemoteActions::do_command(const std::string& request, std::string& status) {
    try {
        if (mid(request, 3, 7) == "Windows") {
            KTR_TRACE("Remote SHUTDOWN Command:_" + diag::escaped(request) + "_");
            const auto words = platform::split_blanks(mid(request, 8));
            uint8_t flags = 0;
            for (size_t i = 1; i < words.size(); ++i) flags |= flag_of(words[i]);
            status = mid(request, 3);
            KTR_TRACE("Exit_Windows, Flags: " + std::to_string(flags));
            Exit_Windows(flags);
            return "";
        }
        if (mid(request, 3, 3) == "WOL") {
            KTR_TRACE("WOL Command:_" + diag::escaped(request) + "_");
            const auto fields = split_at(mid(request, 4), '-');
            const size_t highest = fields.size() - 1;
            if (highest < 8) {
                KTR_TRACE("Too few ARGS for WOL: " + std::to_string(highest));
                return "";
            }
            const std::string mac = fields[3] + "-" + fields[4] + "-" + fields[5] + "-" + fields[6] + "-" +
                                    fields[7] + "-" + fields[8];
            return do_WOL(fields[1], fields[2], mac, status);
        }
    } catch (...) {
        return "Error";
    }
    try {
        const std::string command_line = mid(request, 3);
        KTR_TRACE("Remote Command:_" + diag::escaped(command_line) + "_");
        status = "Run: " + command_line;
        if (!platform::start_program(command_line, platform::kWindowMinimizedFocus)) {
            platform::clear_pending_error();  // the response text says it
            return "Shell Error";
        }
        return "";
    } catch (...) {
        return "Shell Error";
    }
}

std::string RemoteActions::do_WOL(const std::string& broadcast, const std::string& local, const std::string& mac,
                                  std::string& status) {
    status = "WOL: ";
    wol_.BroadcastAddress(broadcast);
    wol_.MACAddress(mac);
    wol_.LocalAddress(local);
    if (!wol_.Send()) {
        platform::clear_pending_error();  // told by the error event and the response text
        return "Error";
    }
    return "OK";
}

void RemoteActions::ctlUltraWOL1_Sent(const std::string& text, const std::string& mac, const std::string& broadcast,
                                      const std::string& local) {
    KTR_TRACE("WOL: " + text + " MAC addr: " + mac + ", Bcast IP: " + broadcast + ", Local IP: " + local);
}

void RemoteActions::ctlUltraWOL1_Error(const std::string& text) {
    KTR_TRACE("WOL Error: " + text);
}

bool Exit_Windows(int32_t flags) {
    if (is_windows_nt() == 1) {
        enable_shutdown_privilege();
        KTR_TRACE("Post-AdjustToken GetLastError " + std::to_string(platform::GetLastError()));
    }
    const auto request = static_cast<uint32_t>(flags);
    if (platform::simulating("power")) KTR_TRACE("Simulated power request (not carried out): " + platform::describe_power_request(request) +
                                                 ", Flags: " + std::to_string(flags));
    const int r = platform::ExitWindowsEx(request, 0xFFFFFFFFu);
    if (r == 0) {
        KTR_TRACE("Exit_Windows Error: " + std::to_string(platform::GetLastError()));
        return false;
    }
    return true;
}

int16_t is_windows_nt() {
    const uint32_t v = platform::GetVersion();
    if (v & 0x80000000u) {
        KTR_TRACE("Running Windows 95/98/Me");
        return 0;
    }
    KTR_TRACE("Running Windows NT, Windows 2000 or Windows XP");
    return 1;
}

void enable_shutdown_privilege() {
    platform::SetLastError(0);
    const platform::ProcessHandle process = platform::GetCurrentProcess();
    trace_step_error("GetCurrentProcess error==");
    platform::TokenHandle token = 0;
    platform::OpenProcessToken(process, platform::kTokenQuery | platform::kTokenAdjustPrivileges, token);
    trace_step_error("OpenProcessToken error==");
    platform::Luid luid;
    platform::LookupPrivilegeValueA("", "SeShutdownPrivilege", luid);
    trace_step_error("LookupPrivilegeValue error==");
    platform::TokenPrivileges privileges;
    privileges.count = 1;
    privileges.luid = luid;
    privileges.attributes = platform::kPrivilegeEnabled;
    platform::TokenPrivileges previous;
    uint32_t returned = 0;
    platform::AdjustTokenPrivileges(token, false, privileges, 16, &previous, &returned);
    trace_step_error("AdjustTokenPrivileges error==");
}

} // namespace ktr::server
