#include <string>

#include "fakes/system_paths.h"
#include "platform/win32/win32_support.h"

namespace ktr::testing {
using platform::to_utf8;
using platform::to_wide;

std::string this_program_folder() {
    std::wstring path(MAX_PATH, L'\0');
    for (DWORD n; (n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()))) >= path.size();)
        path.resize(path.size() * 2);
    path.resize(wcslen(path.c_str()));
    return to_utf8(path.substr(0, path.find_last_of(L"\\/")));
}

std::string short_path(const std::string& path) {
    const std::wstring wide = to_wide(path);
    const DWORD n = GetShortPathNameW(wide.c_str(), nullptr, 0);
    if (n == 0) return path;
    std::wstring out(n, L'\0');
    out.resize(GetShortPathNameW(wide.c_str(), out.data(), n));
    return to_utf8(out);
}

bool under_wine() {
    // Wine's ntdll has an export of its own that Windows' lacks.
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

HeldFile::HeldFile(const std::string& path)
    : handle_(reinterpret_cast<intptr_t>(CreateFileW(to_wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr))) {}

HeldFile::~HeldFile() {
    if (ok()) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

} // namespace ktr::testing
