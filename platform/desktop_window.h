// The desktop's own windows: a window of labels and buttons under a menu bar, the notification-area icon
// with the hidden window that receives its mouse messages, message boxes and a one-line input box. A system
// without a desktop (the terminal host) has none of them: desktop_available() is false and the creators
// return nothing. Every event comes back through a callback on the pump's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ktr::platform {

// Colours are 0x00BBGGRR; this one leaves a control in the system's own colours.
inline constexpr uint32_t kSystemColour = 0xFFFFFFFFu;

// One entry of a menu bar or of a sub-menu.
struct MenuEntry {
    int id = 0;                    // the command the entry sends; 0 for an entry that opens its items
    std::string caption;           // "&" before the access key; empty: a separator
    bool checked = false;
    bool visible = true;
    std::vector<MenuEntry> items;  // the sub-menu

    bool operator==(const MenuEntry&) const = default;
};

enum class ControlKind { label, framed_label, button };

// A control of a window, placed in pixels of a 96-dpi screen inside the client area.
struct ControlDesign {
    int id = 0;
    ControlKind kind = ControlKind::label;
    int x = 0, y = 0, width = 0, height = 0;
    std::string text;
    bool clickable = false;  // a label that sends its id as a command when clicked
    bool visible = true;
};

struct WindowDesign {
    std::string caption;
    int width = 0, height = 0;  // the client area
    std::vector<ControlDesign> controls;
    bool minimize_box = true;
    intptr_t owner = 0;         // a window this one stays above (0: none)
};

struct WindowEvents {
    std::function<void(int id)> on_command;  // a menu entry, a button or a clickable label
    std::function<void()> on_minimize;       // the user minimised the window
    std::function<void()> on_close;          // the close box; the window stays until it is destroyed
    std::function<void()> on_session_end;    // the user logs off or the system shuts down: the last word
};

class DesktopWindow {
public:
    virtual ~DesktopWindow() = default;
    virtual void set_caption(const std::string& text) = 0;
    virtual void set_text(int id, const std::string& text) = 0;
    // The background of a label (kSystemColour: the window's own).
    virtual void set_colour(int id, uint32_t colour) = 0;
    virtual void set_control_visible(int id, bool visible) = 0;
    virtual void set_menu(const std::vector<MenuEntry>& bar) = 0;
    // Shows the window in its normal size, or hides it.
    virtual void show(bool visible) = 0;
    virtual void to_foreground() = 0;
    virtual void set_topmost(bool on) = 0;
    virtual bool visible() const = 0;
    virtual std::string text(int id) const = 0;
    // The system's handle of the window, for owning boxes and for tests that drive it.
    virtual intptr_t native_handle() const = 0;
};

// Whether windows can be shown here.
bool desktop_available();
// Nothing (pending error set) when the window cannot be made.
std::unique_ptr<DesktopWindow> create_window(const WindowDesign& design, WindowEvents events);

// The shell's record of the notification-area icon: the window that receives the icon's mouse messages
// as the callback message (the mouse message itself in place of the pointer's position), the icon's
// number, the picture and the tip.
struct NotifyIconRecord {
    intptr_t window = 0;
    uint32_t id = 1;
    uint32_t flags = 7;  // callback message, icon and tip are valid
    uint32_t callback_message = 512;
    int16_t picture = 0;
    std::string tip;     // at most kNotifyTipChars characters reach the shell
};
inline constexpr size_t kNotifyTipChars = 63;
enum class NotifyIconOperation { add = 0, modify = 1, remove = 2 };

// The hidden window that receives the icon's mouse messages.
class TrayWindow {
public:
    virtual ~TrayWindow() = default;
    virtual intptr_t native_handle() const = 0;
};
// on_shell_restart: the shell started again and has forgotten every icon.
std::unique_ptr<TrayWindow> create_tray_window(std::function<void(uint32_t mouse_message)> on_icon_message,
                                               std::function<void()> on_shell_restart = {});
// Adds, changes or removes the icon; false (pending error set) when the shell refuses.
bool shell_notify_icon(NotifyIconOperation operation, const NotifyIconRecord& record);

enum class MessageButtons { ok, yes_no };
enum class MessageIcon { none, information, warning, error };
// A modal message box above the owner (0: none); true for OK or Yes.
bool message_box(intptr_t owner, const std::string& title, const std::string& text, MessageButtons buttons,
                 MessageIcon icon);
// A modal box with a prompt and one line of entry; nothing when it was cancelled.
std::optional<std::string> input_box(intptr_t owner, const std::string& title, const std::string& prompt,
                                     const std::string& initial);
// Opens a document with the program the system has for it; false (pending error set) when that fails.
bool open_document(const std::string& path);

} // namespace ktr::platform
