// The process environment and facts about the system on Windows.
#include <windows.h>

#include <cstdio>

#include "platform/system.h"
#include "platform/win32/win32_support.h"

namespace ktr::platform {

std::optional<std::string> get_env(const char* name) {
    // The process environment itself, not the C runtime's copy in the ANSI code page: values keep every
    // character, and a variable set to an empty text is told apart from a missing one.
    const std::wstring wname = to_wide(name ? name : "");
    if (wname.empty()) return std::nullopt;
    std::wstring value(256, L'\0');
    for (;;) {
        ::SetLastError(ERROR_SUCCESS);
        const DWORD n = GetEnvironmentVariableW(wname.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (n == 0) {
            if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return std::string();
        }
        if (n < value.size()) return to_utf8(std::wstring_view(value.data(), n));
        value.resize(n);  // n is the size needed, its terminating NUL included
    }
}

std::string host_name() {
    wchar_t buf[256] = {};
    DWORD size = static_cast<DWORD>(std::size(buf));
    if (GetComputerNameExW(ComputerNameDnsHostname, buf, &size) && size > 0)
        return to_utf8(std::wstring_view(buf, size));
    size = static_cast<DWORD>(std::size(buf));
    if (GetComputerNameW(buf, &size) && size > 0) return to_utf8(std::wstring_view(buf, size));
    return "localhost";
}

bool stdout_is_terminal() {
    // A console answers for its mode; a file, a pipe or the NUL device does not.
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return out != nullptr && out != INVALID_HANDLE_VALUE && GetFileType(out) == FILE_TYPE_CHAR &&
           GetConsoleMode(out, &mode);
}

void use_parent_console() {
    // A file, pipe or console the starter handed over is kept.
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out != nullptr && out != INVALID_HANDLE_VALUE && GetFileType(out) != FILE_TYPE_UNKNOWN) return;
    // Started from the desktop there is no console, and nothing is shown.
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
    FILE* stream = nullptr;
    if (freopen_s(&stream, "CONOUT$", "w", stdout) != 0) return;
    freopen_s(&stream, "CONOUT$", "w", stderr);
}

} // namespace ktr::platform
