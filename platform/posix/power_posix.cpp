#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utmpx.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "platform/backend.h"
#include "platform/pending_error.h"
#include "platform/power.h"
#include "platform/process.h"

namespace ktr::platform {
namespace {

thread_local uint32_t g_last_error = 0;

constexpr ProcessHandle kCurrentProcess = -1;  // the pseudo handle the platform gives
constexpr TokenHandle kOwnToken = 1;
constexpr Luid kShutdownLuid{19, 0};
constexpr int kManagerTimeoutMs = 15000;
constexpr int kCapSysBoot = 22;

// Whether this process may order a shutdown: root, or the CAP_SYS_BOOT capability.
bool may_shut_down() {
    if (geteuid() == 0) return true;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("CapEff:", 0) == 0) {
            unsigned long long caps = 0;
            std::istringstream(line.substr(7)) >> std::hex >> caps;
            return (caps >> kCapSysBoot) & 1ULL;
        }
    }
    return false;
}

bool systemd_running() {
    struct stat st{};
    return ::stat("/run/systemd/system", &st) == 0 && S_ISDIR(st.st_mode);
}

// Runs one manager command; true when it ended with status 0, else the last error says why.
bool run_manager(const std::vector<std::string>& words) {
    const auto status = run_and_wait(words, kManagerTimeoutMs);
    if (!status) {
        SetLastError(static_cast<uint32_t>(pending_error().number));
        clear_pending_error();
        return false;
    }
    if (*status != 0) {
        SetLastError(static_cast<uint32_t>(*status));
        return false;
    }
    return true;
}

bool log_off_users(bool forced) {
    if (systemd_running()) {
        std::string listing;
        const auto status = run_and_capture({"loginctl", "list-sessions", "--no-legend"}, kManagerTimeoutMs, listing);
        if (!status || *status != 0) {
            SetLastError(status ? static_cast<uint32_t>(*status) : static_cast<uint32_t>(pending_error().number));
            clear_pending_error();
            return false;
        }
        bool ok = true;
        std::istringstream lines(listing);
        std::string line;
        while (std::getline(lines, line)) {
            std::istringstream fields(line);
            std::string session;
            if (!(fields >> session)) continue;
            const bool ended = forced ? run_manager({"loginctl", "kill-session", "--signal=SIGKILL", session})
                                      : run_manager({"loginctl", "terminate-session", session});
            ok = ok && ended;
        }
        return ok;
    }
    // Without a session manager: hang up (or, forced, kill) the login process of every user session.
    std::vector<pid_t> leaders;
    setutxent();
    while (const utmpx* u = getutxent()) {
        if (u->ut_type == USER_PROCESS && u->ut_pid > 1 && u->ut_pid != getpid()) leaders.push_back(u->ut_pid);
    }
    endutxent();
    for (const pid_t pid : leaders) ::kill(pid, forced ? SIGKILL : SIGHUP);
    return true;
}

bool shut_down(uint32_t flags) {
    const bool forced = flags & kExitForce;
    const char* verb = (flags & kExitPowerOff) ? "poweroff" : (flags & kExitReboot) ? "reboot" : "halt";
    if (systemd_running()) {
        std::vector<std::string> words{"systemctl", verb};
        if (forced) words.emplace_back("--force");  // no orderly stop of the services
        return run_manager(words);
    }
    if (forced) return run_manager({verb, "-f"});
    const char* option = (flags & kExitPowerOff) ? "-P" : (flags & kExitReboot) ? "-r" : "-H";
    return run_manager({"shutdown", option, "now"});
}

} // namespace

uint32_t GetLastError() { return g_last_error; }
void SetLastError(uint32_t code) { g_last_error = code; }

// Version 10.0 with bit 31 clear: the NT family.
uint32_t GetVersion() { return 0x0000000A; }

ProcessHandle GetCurrentProcess() { return kCurrentProcess; }

bool OpenProcessToken(ProcessHandle process, uint32_t, TokenHandle& token) {
    if (process != kCurrentProcess) {
        SetLastError(6);  // invalid handle
        return false;
    }
    token = kOwnToken;
    return true;
}

bool LookupPrivilegeValueA(const char*, const char* name, Luid& luid) {
    if (!name || std::string(name) != "SeShutdownPrivilege") {
        SetLastError(kErrorNoSuchPrivilege);
        return false;
    }
    luid = kShutdownLuid;
    return true;
}

bool AdjustTokenPrivileges(TokenHandle token, bool, const TokenPrivileges& privileges, uint32_t,
                           TokenPrivileges* previous, uint32_t* returned_length) {
    if (token != kOwnToken) {
        SetLastError(6);
        return false;
    }
    if (previous) *previous = TokenPrivileges{};
    if (returned_length) *returned_length = 0;
    const bool asks_shutdown = privileges.count == 1 && privileges.luid.low == kShutdownLuid.low &&
                               privileges.luid.high == kShutdownLuid.high;
    SetLastError(asks_shutdown && !may_shut_down() ? kErrorNotAllAssigned : kErrorSuccess);
    return true;
}

// The last error of a failure is the error number when the manager could not be run, else the manager's
// exit status.
bool backend::carry_out_power_request(uint32_t flags) {
    const bool shuts_down = flags & (kExitShutdown | kExitReboot | kExitPowerOff);
    return shuts_down ? shut_down(flags) : log_off_users(flags & kExitForce);
}

} // namespace ktr::platform
