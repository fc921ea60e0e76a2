#include "app/desktop_host.h"

namespace ktr::app {
namespace {

using platform::ControlDesign;
using platform::ControlKind;

platform::WindowDesign main_design() {
    return {kWindowCaption,
            400,
            200,
            {
                // Four lines: a listener that cannot start says why and what to do.
                ControlDesign{kStatusLabel, ControlKind::label, 12, 10, 376, 58, "", false, true},
                // The last exchange: the request, what was done and the response, blank lines between.
                ControlDesign{kLogLabel, ControlKind::framed_label, 12, 72, 376, 82, "", false, true},
                ControlDesign{kServiceCaptionLabel, ControlKind::label, 12, 169, 50, 16, "Service:", false, false},
                ControlDesign{kServiceStatusLabel, ControlKind::framed_label, 64, 164, 188, 24, "", true, false},
                ControlDesign{kStatusButton, ControlKind::button, 260, 164, 60, 24, "Status", false, false},
                ControlDesign{kExitButton, ControlKind::button, 328, 164, 60, 24, "Exit", false, true},
            },
            true,
            0};
}

platform::WindowDesign service_design(intptr_t owner) {
    return {"",
            300,
            104,
            {
                ControlDesign{kSvcStatusLabel, ControlKind::framed_label, 12, 12, 276, 44, "", false, true},
                ControlDesign{kSvcStart, ControlKind::button, 12, 68, 63, 24, "Start", false, true},
                ControlDesign{kSvcStop, ControlKind::button, 83, 68, 63, 24, "Stop", false, true},
                ControlDesign{kSvcPause, ControlKind::button, 154, 68, 63, 24, "Pause", false, true},
                ControlDesign{kSvcStatus, ControlKind::button, 225, 68, 63, 24, "Status", false, true},
            },
            false,
            owner};
}

} // namespace

DesktopHost::DesktopHost(frmMainKtrsvc& window) : window_(window) {
    platform::WindowEvents events;
    events.on_command = [this](int id) {
        if (id == kExitButton) window_.cmdManual_Click();
        else if (id == kStatusButton) window_.RefreshStatus();
        else if (id == kServiceStatusLabel) window_.mnuOptionsSvc_Click();
        else window_.menu_command(id);
        render();
    };
    events.on_minimize = [this] { window_.Form_Minimize(); };
    events.on_close = [this] { window_.Unload(); };
    events.on_session_end = [this] { window_.EndSession(); };
    main_ = platform::create_window(main_design(), std::move(events));
    tray_window_ = platform::create_tray_window(
        [this](uint32_t message) {
            window_.tray().picIcon_MouseMove(message);
            render();
        },
        [this] { window_.tray().refresh_icon(); });
    if (!ready()) return;

    const intptr_t owner = main_->native_handle();
    window_.tray().shell = platform::shell_notify_icon;
    window_.tray().picIcon = tray_window_->native_handle();
    window_.on_view_change = [this] { render(); };
    print_ = window_.on_label_change;
    window_.on_label_change = [this](const std::string& label, const std::string& text) {
        if (print_) print_(label, text);
        render();
    };
    window_.ask_yes_no = [owner](const std::string& question) {
        return platform::message_box(owner, kMessageTitle, question, platform::MessageButtons::yes_no,
                                     platform::MessageIcon::warning);
    };
    window_.show_message = [owner](const std::string& title, const std::string& text) {
        platform::message_box(owner, title, text, platform::MessageButtons::ok,
                              title == kInvalidEntryTitle ? platform::MessageIcon::warning
                                                          : platform::MessageIcon::information);
    };
    window_.input_text = [owner](const std::string& title, const std::string& prompt, const std::string& initial) {
        return platform::input_box(owner, title, prompt, initial);
    };
    window_.open_service_window = [this] { open_service_window(); };
}

DesktopHost::~DesktopHost() {
    if (!ready()) return;
    window_.on_view_change = nullptr;
    window_.on_label_change = print_;
    window_.ask_yes_no = nullptr;
    window_.show_message = nullptr;
    window_.input_text = nullptr;
    window_.open_service_window = nullptr;
    window_.tray().delete_icon();
    window_.tray().shell = nullptr;
}

void DesktopHost::render() {
    if (!main_) return;
    const WindowModel& m = window_.model();
    main_->set_caption(m.caption);
    main_->set_text(kStatusLabel, m.status);
    main_->set_text(kLogLabel, m.lblNISTLog);
    main_->set_text(kServiceStatusLabel, m.service_status);
    main_->set_colour(kServiceStatusLabel, m.service_status_visible ? m.service_status_colour : platform::kSystemColour);
    main_->set_control_visible(kServiceCaptionLabel, m.service_status_visible);
    main_->set_control_visible(kServiceStatusLabel, m.service_status_visible);
    main_->set_control_visible(kStatusButton, m.status_button_visible);
    std::vector<platform::MenuEntry> bar = window_.menu_bar();
    if (!menu_shown_ || bar != shown_menu_) {
        main_->set_menu(bar);
        shown_menu_ = std::move(bar);
        menu_shown_ = true;
    }
    if (m.topmost != topmost_) {
        main_->set_topmost(m.topmost);
        topmost_ = m.topmost;
    }
    if (m.visible && !main_->visible()) {
        main_->show(true);
        main_->to_foreground();
    } else if (!m.visible && main_->visible()) {
        main_->show(false);
    }
    if (window_.unloaded() && service_view_) service_view_->show(false);
}

void DesktopHost::open_service_window() {
    if (!service_) {
        service_ = std::make_unique<frmSvcOptions>(kServiceName);
        platform::WindowEvents events;
        events.on_command = [this](int id) {
            switch (id) {
            case kSvcStart: service_->cmdStart_Click(); break;
            case kSvcStop: service_->cmdStop_Click(); break;
            case kSvcPause: service_->cmdPause_Click(); break;
            case kSvcStatus: service_->cmdStatus_Click(); break;
            default: break;
            }
        };
        // Closed, it is only hidden: its handlers may be running when the close arrives.
        events.on_close = [this] { service_view_->show(false); };
        service_view_ = platform::create_window(service_design(main_->native_handle()), std::move(events));
        if (!service_view_) {
            service_.reset();
            return;
        }
        service_->on_change = [this] { render_service_window(); };
    }
    service_->Form_Load();
    service_view_->show(true);
    service_view_->to_foreground();
}

void DesktopHost::render_service_window() {
    const SvcOptionsModel& m = service_->model();
    service_view_->set_caption(m.caption);
    service_view_->set_text(kSvcStatusLabel, m.status);
    service_view_->set_colour(kSvcStatusLabel, m.status_colour);
}

} // namespace ktr::app
