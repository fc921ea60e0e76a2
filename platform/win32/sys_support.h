// What the clock, locale, file and system parts of the Windows backend share: UTF-8 <-> UTF-16 at the API
// boundary and system error numbers into the pending error. Kept apart from win32_support.h until the two
// are folded together.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace ktr::platform::sys_win32 {

// UTF-8 <-> UTF-16; text that does not convert comes back empty.
std::wstring to_wide(std::string_view utf8);
std::string to_utf8(std::wstring_view wide);

// The system's message for a Win32 error number without the trailing line end; "Error <n>" when it has none.
std::string system_error_text(unsigned long number);
// Fills the pending-error record from a Win32 error (number = the error, description = its message).
void set_pending_error_from_system(unsigned long number);
inline void set_pending_error_from_last_error() { set_pending_error_from_system(::GetLastError()); }

} // namespace ktr::platform::sys_win32
