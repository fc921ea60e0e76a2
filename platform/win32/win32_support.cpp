#include "platform/win32/win32_support.h"

#include "platform/pending_error.h"

namespace ktr::platform {

// A byte that is no UTF-8 becomes the replacement character: a name is never cut to nothing.
std::wstring to_wide(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, out.data(), n);
    return out;
}

std::string to_utf8(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int size = static_cast<int>(wide.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, out.data(), n, nullptr, nullptr);
    return out;
}

std::string system_error_text(unsigned long number) {
    wchar_t* buffer = nullptr;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    // English first, so texts match whatever the machine's language; then the system's own.
    DWORD n = FormatMessageW(flags, nullptr, number, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                             reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (n == 0) n = FormatMessageW(flags, nullptr, number, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text = n ? to_utf8(std::wstring_view(buffer, n)) : std::string();
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text.empty() ? "Error " + std::to_string(number) : text;
}

void set_pending_error_from_system(unsigned long number) {
    set_pending_error(static_cast<int32_t>(number), system_error_text(number));
}

bool ensure_winsock() {
    static const int started = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data);  // never cleaned up: sockets live until the process ends
    }();
    if (started != 0) set_pending_error_from_wsa(started);
    return started == 0;
}

} // namespace ktr::platform
