// No windows here: the desktop instance shows its labels on the terminal instead.
#include "platform/desktop_window.h"
#include "platform/pending_error.h"

namespace ktr::platform {
namespace {
constexpr int32_t kErrNotSupported = 95;  // ENOTSUP

void no_desktop() { set_pending_error(kErrNotSupported, "This system has no desktop windows"); }
} // namespace

bool desktop_available() { return false; }

std::unique_ptr<DesktopWindow> create_window(const WindowDesign&, WindowEvents) {
    no_desktop();
    return nullptr;
}

std::unique_ptr<TrayWindow> create_tray_window(std::function<void(uint32_t)>, std::function<void()>) {
    no_desktop();
    return nullptr;
}

bool shell_notify_icon(NotifyIconOperation, const NotifyIconRecord&) {
    no_desktop();
    return false;
}

bool message_box(intptr_t, const std::string&, const std::string&, MessageButtons, MessageIcon) { return false; }

std::optional<std::string> input_box(intptr_t, const std::string&, const std::string&, const std::string&) {
    return std::nullopt;
}

bool open_document(const std::string&) {
    no_desktop();
    return false;
}

} // namespace ktr::platform
