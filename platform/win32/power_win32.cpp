// Power actions through the system's own calls. The last error of the steps is kept per thread right after
// each call, so that whatever the caller does between two steps (tracing writes files) cannot change it.
#include <windows.h>

#include <string>

#include "platform/backend.h"
#include "platform/power.h"
#include "platform/win32/win32_support.h"

namespace ktr::platform {
namespace {

static_assert(kExitLogoff == EWX_LOGOFF && kExitShutdown == EWX_SHUTDOWN && kExitReboot == EWX_REBOOT &&
              kExitForce == EWX_FORCE && kExitPowerOff == EWX_POWEROFF);
static_assert(kErrorNotAllAssigned == ERROR_NOT_ALL_ASSIGNED && kErrorNoSuchPrivilege == ERROR_NO_SUCH_PRIVILEGE);
static_assert(kTokenQuery == TOKEN_QUERY && kTokenAdjustPrivileges == TOKEN_ADJUST_PRIVILEGES &&
              kPrivilegeEnabled == SE_PRIVILEGE_ENABLED);

thread_local uint32_t g_last_error = 0;

void keep_system_error() { g_last_error = ::GetLastError(); }

// The caller never closes the token it asked for; keeping the last one and closing it when the next is
// opened stops repeated requests from piling up handles.
HANDLE g_token = nullptr;

} // namespace

uint32_t GetLastError() { return g_last_error; }
void SetLastError(uint32_t code) {
    g_last_error = code;
    ::SetLastError(code);
}

uint32_t GetVersion() { return static_cast<uint32_t>(::GetVersion()); }

ProcessHandle GetCurrentProcess() { return reinterpret_cast<ProcessHandle>(::GetCurrentProcess()); }

bool OpenProcessToken(ProcessHandle process, uint32_t access, TokenHandle& token) {
    HANDLE opened = nullptr;
    if (!::OpenProcessToken(reinterpret_cast<HANDLE>(process), access, &opened)) {
        keep_system_error();
        return false;
    }
    if (g_token) CloseHandle(g_token);
    g_token = opened;
    token = reinterpret_cast<TokenHandle>(opened);
    return true;
}

bool LookupPrivilegeValueA(const char* system_name, const char* name, Luid& luid) {
    const std::wstring system = to_wide(system_name ? system_name : "");
    LUID found{};
    // An empty system name is this machine.
    if (!::LookupPrivilegeValueW(system.empty() ? nullptr : system.c_str(), to_wide(name ? name : "").c_str(), &found)) {
        keep_system_error();
        return false;
    }
    luid.low = found.LowPart;
    luid.high = found.HighPart;
    return true;
}

bool AdjustTokenPrivileges(TokenHandle token, bool disable_all, const TokenPrivileges& privileges,
                           uint32_t buffer_length, TokenPrivileges* previous, uint32_t* returned_length) {
    TOKEN_PRIVILEGES wanted{};
    wanted.PrivilegeCount = privileges.count > 1 ? 1 : privileges.count;  // the structure holds one
    wanted.Privileges[0].Luid.LowPart = privileges.luid.low;
    wanted.Privileges[0].Luid.HighPart = privileges.luid.high;
    wanted.Privileges[0].Attributes = privileges.attributes;
    TOKEN_PRIVILEGES before{};
    DWORD returned = 0;
    const bool wants_previous = previous && buffer_length > 0;
    const BOOL ok = ::AdjustTokenPrivileges(reinterpret_cast<HANDLE>(token), disable_all, &wanted,
                                            wants_previous ? sizeof before : 0, wants_previous ? &before : nullptr,
                                            wants_previous ? &returned : nullptr);
    // A success still says through the last error whether the privilege was granted.
    keep_system_error();
    if (!ok) return false;
    if (previous) {
        *previous = TokenPrivileges{};
        if (wants_previous && before.PrivilegeCount > 0) {
            previous->count = before.PrivilegeCount;
            previous->luid = Luid{before.Privileges[0].Luid.LowPart, before.Privileges[0].Luid.HighPart};
            previous->attributes = before.Privileges[0].Attributes;
        }
    }
    if (returned_length) *returned_length = returned;
    return true;
}

// The request is planned by an application (the console asked for it), so the system's shutdown record
// says so.
bool backend::carry_out_power_request(uint32_t flags) {
    if (!::ExitWindowsEx(flags, SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_FLAG_PLANNED)) {
        keep_system_error();
        return false;
    }
    return true;
}

} // namespace ktr::platform
