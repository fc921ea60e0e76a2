// The 8.3 short form of a path through GetShortPathNameW.
#include <windows.h>

#include "platform/files.h"
#include "platform/win32/win32_support.h"

namespace ktr::platform {

std::string short_path_name(const std::string& path) {
    // Only a path that names its folder has a short form to build: a bare name gives none.
    if (path.find_first_of("\\/") == std::string::npos) return {};
    const std::wstring w = to_wide(path);
    if (w.empty()) return {};
    std::wstring out(MAX_PATH, L'\0');
    for (;;) {
        // The system looks each part up; a missing one fails the whole path.
        const DWORD n = GetShortPathNameW(w.c_str(), out.data(), static_cast<DWORD>(out.size()));
        if (n == 0) return {};
        if (n < out.size()) return to_utf8(std::wstring_view(out.data(), n));
        out.resize(n);  // n is the size needed, its terminating NUL included
    }
}

} // namespace ktr::platform
