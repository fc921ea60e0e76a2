#include <windows.h>

#include <string>

#include "fakes/system_paths.h"

namespace ktr::testing {
namespace {

std::wstring widen(const std::string& text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string narrow(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

} // namespace

std::string this_program_folder() {
    std::wstring path(MAX_PATH, L'\0');
    for (DWORD n; (n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()))) >= path.size();)
        path.resize(path.size() * 2);
    path.resize(wcslen(path.c_str()));
    return narrow(path.substr(0, path.find_last_of(L"\\/")));
}

std::string short_path(const std::string& path) {
    const std::wstring wide = widen(path);
    const DWORD n = GetShortPathNameW(wide.c_str(), nullptr, 0);
    if (n == 0) return path;
    std::wstring out(n, L'\0');
    out.resize(GetShortPathNameW(wide.c_str(), out.data(), n));
    return narrow(out);
}

bool under_wine() {
    // Wine's ntdll has an export of its own that Windows' lacks.
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

HeldFile::HeldFile(const std::string& path)
    : handle_(reinterpret_cast<intptr_t>(CreateFileW(widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr))) {}

HeldFile::~HeldFile() {
    if (ok()) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

} // namespace ktr::testing
