#ifdef _WIN32
#include "fakes/desktop_driver.h"

#include <windows.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <thread>

#include "platform/desktop_window.h"

namespace ktr::testing {
namespace {

HWND hwnd(intptr_t window) { return reinterpret_cast<HWND>(window); }

std::wstring wide(const std::string& text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string narrow(const wchar_t* text, int n) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, n, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, text, n, out.data(), bytes, nullptr, nullptr);
    return out;
}

std::string window_text(HWND window) {
    wchar_t buffer[1024] = {};
    return narrow(buffer, GetWindowTextW(window, buffer, 1024));
}

bool under_wine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// PNG of 8-bit RGB rows, its image data in stored (uncompressed) deflate blocks.
class PngWriter {
public:
    static std::string encode(const std::vector<uint8_t>& rgb, uint32_t width, uint32_t height) {
        std::string raw;
        for (uint32_t y = 0; y < height; ++y) {
            raw += '\0';  // no filter
            raw.append(reinterpret_cast<const char*>(rgb.data()) + y * width * 3, width * 3);
        }
        std::string z = "\x78\x01";
        for (size_t at = 0; at < raw.size() || at == 0; at += 65535) {
            const size_t n = std::min<size_t>(65535, raw.size() - at);
            z += static_cast<char>(at + n >= raw.size() ? 1 : 0);
            z += le16(static_cast<uint16_t>(n));
            z += le16(static_cast<uint16_t>(~n));
            z.append(raw, at, n);
            if (raw.empty()) break;
        }
        z += be32(adler32(raw));
        std::string ihdr = be32(width) + be32(height) + std::string("\x08\x02\x00\x00\x00", 5);
        return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) + chunk("IDAT", z) + chunk("IEND", "");
    }

private:
    static std::string le16(uint16_t v) { return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }
    static std::string be32(uint32_t v) {
        return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
    }
    static uint32_t adler32(const std::string& data) {
        uint32_t a = 1, b = 0;
        for (const unsigned char c : data) {
            a = (a + c) % 65521;
            b = (b + a) % 65521;
        }
        return (b << 16) | a;
    }
    static uint32_t crc32(const std::string& data) {
        static const std::array<uint32_t, 256> table = [] {
            std::array<uint32_t, 256> t{};
            for (uint32_t n = 0; n < 256; ++n) {
                uint32_t c = n;
                for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
                t[n] = c;
            }
            return t;
        }();
        uint32_t c = 0xFFFFFFFFu;
        for (const unsigned char byte : data) c = table[(c ^ byte) & 0xFF] ^ (c >> 8);
        return c ^ 0xFFFFFFFFu;
    }
    static std::string chunk(const char* type, const std::string& data) {
        const std::string body = type + data;
        return be32(static_cast<uint32_t>(data.size())) + body + be32(crc32(body));
    }
};

} // namespace

std::string no_display_reason() {
    if (under_wine()) {
        const char* display = std::getenv("DISPLAY");
        if (!display || !*display) return "Wine has no X display here (scripts/windows_gui.sh runs these tests under Xvfb)";
    }
    if (!platform::desktop_available()) return "this session has no interactive desktop";
    return {};
}

void post_command(intptr_t window, int id) { PostMessageW(hwnd(window), WM_COMMAND, MAKEWPARAM(id, 0), 0); }
void post_message(intptr_t window, uint32_t message, intptr_t lparam) { PostMessageW(hwnd(window), message, 0, lparam); }
void post_minimize(intptr_t window) { PostMessageW(hwnd(window), WM_SYSCOMMAND, SC_MINIMIZE, 0); }
void post_close(intptr_t window) { PostMessageW(hwnd(window), WM_CLOSE, 0, 0); }
void minimize_from_outside(intptr_t window) { ShowWindowAsync(hwnd(window), SW_MINIMIZE); }
void post_session_end(intptr_t window) { PostMessageW(hwnd(window), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF); }
uint32_t current_thread() { return GetCurrentThreadId(); }
void post_close_to_thread(uint32_t thread) { PostThreadMessageW(thread, WM_CLOSE, 0, 0); }
bool window_visible(intptr_t window) { return IsWindowVisible(hwnd(window)) != FALSE; }
bool window_exists(intptr_t window) { return IsWindow(hwnd(window)) != FALSE; }

std::string menu_caption(intptr_t window, int id) {
    HMENU menu = GetMenu(hwnd(window));
    wchar_t buffer[256] = {};
    const int n = menu ? GetMenuStringW(menu, static_cast<UINT>(id), buffer, 256, MF_BYCOMMAND) : 0;
    return narrow(buffer, n);
}

bool menu_checked(intptr_t window, int id) {
    HMENU menu = GetMenu(hwnd(window));
    const UINT state = menu ? GetMenuState(menu, static_cast<UINT>(id), MF_BYCOMMAND) : static_cast<UINT>(-1);
    return state != static_cast<UINT>(-1) && (state & MF_CHECKED) != 0;
}

struct DialogAnswerer::State {
    std::vector<DialogAnswer> answers;
    int timeout_ms = 0;
    mutable std::mutex mutex;
    std::vector<std::string> texts;
    std::atomic<bool> finished{false};
    std::atomic<bool> stop{false};
    std::thread thread;

    // Waits for the condition while the test goes on; false when time ran out or the test ended.
    template <class Condition>
    bool wait_for(Condition condition) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (!stop && !condition()) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return !stop;
    }

    void run() {
        for (const DialogAnswer& a : answers) {
            const std::wstring title = wide(a.title);
            HWND dialog = nullptr;
            if (!wait_for([&] { return (dialog = FindWindowW(L"#32770", title.c_str())) && IsWindowVisible(dialog); })) return;
            HWND text = GetDlgItem(dialog, 0xFFFF);  // a message box's text
            if (!text) text = GetWindow(dialog, GW_CHILD);  // the input box's prompt comes first
            {
                std::lock_guard lock(mutex);
                texts.push_back(a.title + ": " + window_text(text));
            }
            if (a.hold_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(a.hold_ms));
            if (!a.typed.empty()) {
                HWND entry = FindWindowExW(dialog, nullptr, L"Edit", nullptr);
                SendMessageW(entry, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide(a.typed).c_str()));
            }
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(a.button, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, a.button)));
            if (!wait_for([&] { return !IsWindow(dialog); })) return;
        }
        finished = true;
    }
};

DialogAnswerer::DialogAnswerer(std::vector<DialogAnswer> answers, int timeout_ms) : state_(std::make_shared<State>()) {
    state_->answers = std::move(answers);
    state_->timeout_ms = timeout_ms;
    state_->thread = std::thread([s = state_] { s->run(); });
}

DialogAnswerer::~DialogAnswerer() {
    state_->stop = true;
    state_->thread.join();
}

bool DialogAnswerer::done() const { return state_->finished; }

std::vector<std::string> DialogAnswerer::texts() const {
    std::lock_guard lock(state_->mutex);
    return state_->texts;
}

std::string event_viewer_text(uint32_t event_id, const std::string& insertion) {
    const std::wstring argument = wide(insertion);
    const DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(argument.c_str())};
    wchar_t buffer[1024] = {};
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, GetModuleHandleW(nullptr),
                                   event_id, 0, buffer, 1024, reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(arguments)));
    return narrow(buffer, static_cast<int>(n));
}

bool save_window_png(intptr_t window, const std::string& path) {
    RECT r{};
    if (!GetWindowRect(hwnd(window), &r)) return false;
    const int width = r.right - r.left, height = r.bottom - r.top;
    if (width <= 0 || height <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    // What the window shows, frame and menu included.
    RedrawWindow(hwnd(window), nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    HDC source = GetWindowDC(hwnd(window));
    bool ok = BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY) != FALSE;
    ReleaseDC(hwnd(window), source);
    GdiFlush();
    std::vector<uint8_t> rgb;
    if (ok && bits) {
        const auto* bgra = static_cast<const uint8_t*>(bits);
        rgb.reserve(static_cast<size_t>(width) * height * 3);
        for (int i = 0; i < width * height; ++i) {
            rgb.push_back(bgra[i * 4 + 2]);
            rgb.push_back(bgra[i * 4 + 1]);
            rgb.push_back(bgra[i * 4]);
        }
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!ok) return false;
    std::ofstream out(path, std::ios::binary);
    out << PngWriter::encode(rgb, static_cast<uint32_t>(width), static_cast<uint32_t>(height));
    return static_cast<bool>(out);
}

} // namespace ktr::testing
#endif
