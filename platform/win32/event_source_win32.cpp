// The application event log finds a source's record texts through the source's key under the log's key:
// the message file and the record types it holds.
#include <string>

#include "platform/event_log.h"
#include "platform/win32/win32_support.h"

namespace ktr::platform {
namespace {

void set_error(LSTATUS status) { set_pending_error_from_system(static_cast<unsigned long>(status)); }

} // namespace

bool register_event_source(std::string_view source, std::string_view message_file) {
    const std::wstring key_path = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + to_wide(source);
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        set_error(status);
        return false;
    }
    // A program named without its extension (as the service manager accepts it) is its .exe: the viewer
    // would look for a .dll.
    std::wstring file = to_wide(message_file);
    const size_t name = file.find_last_of(L"\\/");
    if (file.find(L'.', name == std::wstring::npos ? 0 : name) == std::wstring::npos) file += L".exe";
    const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    status = RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(file.c_str()),
                            static_cast<DWORD>((file.size() + 1) * sizeof(wchar_t)));
    if (status == ERROR_SUCCESS)
        status = RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types), sizeof types);
    RegCloseKey(key);
    if (status == ERROR_SUCCESS) return true;
    set_error(status);
    return false;
}

} // namespace ktr::platform
