// The desktop instance's real windows: the main window, its tray icon and the service control window,
// drawn from the controllers' models, with the user's actions sent back to the controllers. Where the
// system has no windows the host is not ready and the terminal shows the labels instead.
#pragma once

#include <memory>
#include <vector>

#include "app/frm_main_ktrsvc.h"
#include "app/frm_svc_options.h"
#include "platform/desktop_window.h"

namespace ktr::app {

// Control ids of the main window.
enum MainControl : int {
    kStatusLabel = 1,
    kLogLabel = 2,
    kServiceCaptionLabel = 3,
    kServiceStatusLabel = 4,
    kStatusButton = 5,
    kExitButton = 6,
};
// Control ids of the service control window.
enum SvcControl : int {
    kSvcStatusLabel = 1,
    kSvcStart = 11,
    kSvcStop = 12,
    kSvcPause = 13,
    kSvcStatus = 14,
};

class DesktopHost {
public:
    // Makes the windows and takes over the window's hooks for boxes, the tray and the service window.
    explicit DesktopHost(frmMainKtrsvc& window);
    ~DesktopHost();
    DesktopHost(const DesktopHost&) = delete;
    DesktopHost& operator=(const DesktopHost&) = delete;

    // Whether the main window and the tray's window could be made.
    bool ready() const { return main_ && tray_window_; }
    // Draws the models.
    void render();

    platform::DesktopWindow* main_view() const { return main_.get(); }
    platform::TrayWindow* tray_window() const { return tray_window_.get(); }
    platform::DesktopWindow* service_view() const { return service_view_.get(); }
    frmSvcOptions* service_window() const { return service_.get(); }

private:
    void open_service_window();
    void render_service_window();

    frmMainKtrsvc& window_;
    std::function<void(const std::string&, const std::string&)> print_;  // the label hook the host found
    std::unique_ptr<platform::DesktopWindow> main_;
    std::unique_ptr<platform::TrayWindow> tray_window_;
    std::unique_ptr<frmSvcOptions> service_;
    std::unique_ptr<platform::DesktopWindow> service_view_;
    std::vector<platform::MenuEntry> shown_menu_;
    bool menu_shown_ = false;
    bool topmost_ = false;
};

} // namespace ktr::app
