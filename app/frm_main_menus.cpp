// The main window's menus, its show-or-hide from the tray and its minimising: what a desktop user changes.
#include <algorithm>
#include <string>

#include "app/frm_main_ktrsvc.h"
#include "app/service_manager_ops.h"
#include "config/program.h"
#include "diag/debug_log.h"
#include "diag/error_report.h"
#include "platform/convert.h"
#include "platform/desktop_window.h"
#include "platform/files.h"
#include "platform/pending_error.h"
#include "platform/settings_store.h"
#include "platform/system.h"
#include "platform/text.h"

namespace ktr::app {
namespace {

using platform::MenuEntry;

MenuEntry entry(int id, const char* caption, bool checked = false, bool visible = true) {
    return MenuEntry{id, caption, checked, visible, {}};
}
MenuEntry sub_menu(const char* caption, std::vector<MenuEntry> items) { return MenuEntry{0, caption, false, true, std::move(items)}; }

constexpr const char* kUseDefaultPort = "\r\nUse port 1001 as a default.";

} // namespace

std::variant<int16_t, std::string> read_port_entry(const std::string& entry) {
    if (!entry.empty() && entry.size() <= 4 && std::all_of(entry.begin(), entry.end(), platform::is_digit))
        return static_cast<int16_t>(std::stoi(entry));
    // A number written another way (a sign, a fraction, an exponent, a blank) is told the range; anything
    // else, the form.
    if (entry.size() <= 4 && platform::text_to_number(entry))
        return "Entry must be a number 0-9999." + std::string(kUseDefaultPort);
    return "Entry must be a number 1-4 digits long." + std::string(kUseDefaultPort);
}

std::vector<MenuEntry> frmMainKtrsvc::menu_bar() const {
    const bool nt = model_.service_menus_visible;
    const auto protocol = [this](int16_t format, const char* caption) {
        return entry(kMenuProtocol + format, caption, model_.protocol_checked == format);
    };
    return {
        sub_menu("&File", {entry(kMenuFileService, "&Register Service Module", false, nt), entry(kMenuFileExit, "&Exit")}),
        sub_menu("&Options", {sub_menu("&Protocol", {protocol(config::kServerNist, "&NIST"), protocol(config::kServerSntp, "&SNTP")}),
                              entry(kMenuOptionsPort, "Port &Number"),
                              entry(kMenuOptionsSvc, "&Service..", false, nt),
                              entry(kMenuOptionsStartup, "Startup &Automatically", model_.startup_checked)}),
        sub_menu("&Help", {entry(kMenuHelpTopics, "Help &Topics")}),
    };
}

void frmMainKtrsvc::menu_command(int id) {
    switch (id) {
    case kMenuFileService: mnuFileService_Click(); break;
    case kMenuFileExit: Unload(); break;
    case kMenuProtocol + int{config::kServerNist}:
    case kMenuProtocol + int{config::kServerSntp}: mnuOptionsProt_Click(static_cast<int16_t>(id - kMenuProtocol)); break;
    case kMenuOptionsPort: mnuOptionsPort_Click(); break;
    case kMenuOptionsSvc: mnuOptionsSvc_Click(); break;
    case kMenuOptionsStartup: mnuOptionsStartup_Click(); break;
    case kMenuHelpTopics: mnuHelpTopics_Click(); break;
    default: break;
    }
}

void frmMainKtrsvc::message(const std::string& title, const std::string& text) const {
    KTR_TRACE(title + ": " + text);
    if (show_message) show_message(title, text);
}

void frmMainKtrsvc::mnuFileService_Click() {
    if (platform::os_family() != "Windows NT" || !pool_.service_module()) {
        message(kMessageTitle, "Command invalid: Operating system incompatible or not Service module.");
        return;
    }
    // The module registers itself; no outside installer is needed.
    if (ServiceRegister(kServiceName, "INSTALL", platform::executable_path()) == "OK")
        message(kMessageTitle, "The ZK Enterprise Service Module has been submitted for registration\r\n"
                               "Use Options->Service form or NT Service Manager to start service\r\n"
                               "The service name is ZKEnterprise");
    else
        message(kMessageTitle, "The Enterprise Service failed to register.\r\nContact the system administrator for assistance.");
}

// The options are stored at once, since the service reads them from the registry; the flag under
// "Options" makes a service that misses the announcement reload them at its next settings check.
void frmMainKtrsvc::announce_option_change(bool reset_own_listener) {
    SaveOptions(config::options());
    platform::save_setting(config::program().title, "Options", "Changed", "True");
    const bool service_runs = query_service && query_service().colour == kColourGreen;
    if (service_runs && call_service && call_service("OPTIONS_CHANGED")) call_service("RESET_PORTS");
    if (reset_own_listener && !service_running_elsewhere_ && !unloaded_) pool_.reset_server(pool_.listener_index());
}

void frmMainKtrsvc::mnuOptionsProt_Click(int16_t index) {
    config::COptions& o = config::options();
    model_.protocol_checked = index;
    view_changed();
    if (o.ServerFormat() == index) return;
    o.ServerFormat(index);
    o.Changed(true);
    announce_option_change(false);
}

void frmMainKtrsvc::mnuOptionsPort_Click() {
    if (!input_text) return;
    config::COptions& o = config::options();
    const auto entry =
        input_text(kPortEntryTitle, "Port number on which the module listens for the console (0-9999):",
                   std::to_string(static_cast<uint16_t>(o.TCPPort())));
    if (!entry) return;
    const auto read = read_port_entry(*entry);
    if (const auto* error = std::get_if<std::string>(&read)) {
        message(kInvalidEntryTitle, *error);
        return;
    }
    const int16_t port = std::get<int16_t>(read);
    if (port == o.TCPPort()) return;
    o.TCPPort(port);
    o.Changed(true);
    announce_option_change(true);
}

void frmMainKtrsvc::mnuOptionsSvc_Click() {
    if (open_service_window) open_service_window();
}

void frmMainKtrsvc::mnuOptionsStartup_Click() {
    config::COptions& o = config::options();
    model_.startup_checked = !model_.startup_checked;
    o.SystemStartup(model_.startup_checked);
    o.Changed(true);
    view_changed();
}

void frmMainKtrsvc::mnuHelpTopics_Click() {
    const std::string& file = config::program().help_file;
    if (platform::open_document(file)) return;
    const std::string why = platform::pending_error().description;
    diag::error_report(diag::Severity::problem, "Could not open the help file " + file, "frmMainKtrsvc",
                       "mnuHelpTopics_Click", 810);
    message(kMessageTitle, "Could not open the help file " + file + (why.empty() ? "" : "\r\n" + why));
}

void frmMainKtrsvc::Form_Minimize() {
    model_.minimized = true;
    model_.visible = false;
    model_.show_form_checked = false;
    view_changed();
}

void frmMainKtrsvc::show_or_hide() {
    if (unloaded_) return;
    model_.minimized = false;
    model_.visible = !model_.visible;
    model_.show_form_checked = model_.visible;
    view_changed();
}

} // namespace ktr::app
