// frmSysTray: the notification-area icon of a desktop instance, with modSysTray's shell calls. The icon's
// mouse messages show, hide or end the main window; the shell itself is reached through a hook, so that a
// desktop without one (the terminal host) and the tests get the same logic.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/desktop_window.h"

namespace ktr::app {

// The mouse messages the icon reports.
inline constexpr uint32_t kMouseMove = 512;
inline constexpr uint32_t kLeftButtonDown = 513;
inline constexpr uint32_t kLeftButtonUp = 514;
inline constexpr uint32_t kLeftDoubleClick = 515;
inline constexpr uint32_t kRightButtonDown = 516;
inline constexpr uint32_t kRightButtonUp = 517;
inline constexpr uint32_t kRightDoubleClick = 518;

// The tip an icon changed before it was added is added with.
inline constexpr const char* kFirstTip = "Zentrik";

class frmSysTray {
public:
    using ShellCall = std::function<bool(platform::NotifyIconOperation, const platform::NotifyIconRecord&)>;
    // The shell's icon call; unset: this desktop has no notification area and no call is made.
    ShellCall shell;
    // The window handle of picIcon, which receives the icon's mouse messages.
    intptr_t picIcon = 0;
    // What the icon's messages do to the main window.
    std::function<void()> show_or_hide;
    std::function<void()> cmdManual_Click;

    // modSysTray: the shell calls with the record filled (tip cut to the shell's field); failures are
    // reported ("Add icon error", "Modify icon error").
    bool nim_add_icon(int16_t picture, const std::string& tip);
    bool nim_modify_icon(int16_t picture, const std::string& tip);
    void nim_delete_icon();

    bool add_icon(int16_t nPicIndex, const std::string& sTip);
    // Adds the icon first (with kFirstTip) when it is not there yet.
    void modify_icon(int16_t nPicIndex, const std::string& sTip);
    void delete_icon();
    // Shows the icon again after the shell restarted and forgot it.
    void refresh_icon();
    bool check_if_loaded() const { return added_; }

    // A message from the icon: the mouse message that happened on it.
    void picIcon_MouseMove(uint32_t message);

    const platform::NotifyIconRecord& record() const { return record_; }
    int16_t picture() const { return picture_; }
    const std::string& tip() const { return tip_; }

private:
    bool call(platform::NotifyIconOperation operation, int16_t picture, const std::string& tip);
    void unknown_message(uint32_t message);

    platform::NotifyIconRecord record_;
    bool added_ = false;
    int16_t picture_ = 0;
    std::string tip_;
    std::optional<int64_t> last_unknown_second_;
};

} // namespace ktr::app
