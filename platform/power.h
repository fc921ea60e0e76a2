// Power actions (log off, shut down, reboot, power off) and the steps that enable the right to do them.
// The names are the platform's own; on POSIX the privilege steps check that this process may order the
// action (root or CAP_SYS_BOOT) and leave the platform's last error code as the Windows steps would.
#pragma once

#include <cstdint>
#include <string>

namespace ktr::platform {

// Flag bits of a power request; 0 alone is the log-off request. (k-names: the Windows headers define the
// platform's own spellings as macros.)
inline constexpr uint32_t kExitLogoff = 0;
inline constexpr uint32_t kExitShutdown = 1;
inline constexpr uint32_t kExitReboot = 2;
inline constexpr uint32_t kExitForce = 4;
inline constexpr uint32_t kExitPowerOff = 8;

// Last-error codes this backend sets.
inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorNotAllAssigned = 1300;  // the privilege is not held
inline constexpr uint32_t kErrorNoSuchPrivilege = 1313;

// Access rights of a process token.
inline constexpr uint32_t kTokenQuery = 8;
inline constexpr uint32_t kTokenAdjustPrivileges = 32;
inline constexpr uint32_t kPrivilegeEnabled = 2;

// The platform's last error code of this thread.
uint32_t GetLastError();
void SetLastError(uint32_t code);

// The version word: bit 31 clear on the NT family (always so on this backend).
uint32_t GetVersion();

using ProcessHandle = intptr_t;
using TokenHandle = intptr_t;
struct Luid {
    uint32_t low = 0;
    int32_t high = 0;
};
struct TokenPrivileges {
    uint32_t count = 0;
    Luid luid;
    uint32_t attributes = 0;
};

ProcessHandle GetCurrentProcess();
bool OpenProcessToken(ProcessHandle process, uint32_t access, TokenHandle& token);
// Knows "SeShutdownPrivilege"; other names fail with kErrorNoSuchPrivilege.
bool LookupPrivilegeValueA(const char* system_name, const char* name, Luid& luid);
// Succeeds; the last error is kErrorNotAllAssigned when the process may not shut the machine down.
bool AdjustTokenPrivileges(TokenHandle token, bool disable_all, const TokenPrivileges& privileges,
                           uint32_t buffer_length, TokenPrivileges* previous, uint32_t* returned_length);

// Carries out a power request: log off ends the sessions of the logged-in users; shut down, reboot and
// power off go through systemd (systemctl) or, without it, the shutdown command; kExitForce skips the
// graceful path. When KTRSVC_SIMULATE names "power" nothing is carried out: the request is appended to
// "power-actions.txt" in the program folder. Nonzero on success; 0 with the last error set on failure.
int ExitWindowsEx(uint32_t flags, uint32_t reason);

// What a request asks for, in words: "Logoff", "Shutdown", "Reboot" or "Power-off", with ", forced".
std::string describe_power_request(uint32_t flags);

// The file that records simulated power requests.
inline constexpr const char* kPowerActionsFile = "power-actions.txt";

} // namespace ktr::platform
