// The main window: the module's controller. It owns the socket array, the timers, the clock engine and
// the sync record; what it shows (caption, labels, colours, visibility) is a plain model.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "app/frm_sys_tray.h"

#include "config/options.h"
#include "engine/nist_timeset.h"
#include "engine/sync_display.h"
#include "platform/desktop_window.h"
#include "platform/event_pump.h"
#include "platform/serial_port.h"
#include "platform/service_host.h"
#include "records/sync_record.h"
#include "server/console_protocol.h"
#include "server/listener_pool.h"
#include "server/relay.h"
#include "server/remote_actions.h"

namespace ktr::app {

// Colours of the service status label (0x00BBGGRR).
inline constexpr uint32_t kColourGreen = 0x00FF00;        // service running
inline constexpr uint32_t kColourLightYellow = 0x80FFFF;  // paused, or the status poll failed
inline constexpr uint32_t kColourLightRed = 0xC0C0FF;     // stopped
inline constexpr uint32_t kColourGrey = 0x808080;         // no service manager, or no answer

inline constexpr const char* kWindowCaption = "Enterprise Service Module";
inline constexpr const char* kServiceName = "ZKEnterprise";

// What the window shows.
struct WindowModel {
    std::string caption;
    std::string status;          // the status label
    std::string lblNISTLog;      // the last exchange with the console
    std::string service_status;  // the service status label
    uint32_t service_status_colour = 0;
    bool service_status_visible = false;
    bool service_menus_visible = false;
    bool status_button_visible = false;
    bool visible = false;
    bool minimized = false;
    bool topmost = false;
    bool show_form_checked = false;  // the tray's "Show form" entry follows the visibility
    int16_t protocol_checked = -1;   // the checked entry of the protocol menu
    bool startup_checked = false;    // the automatic-startup menu entry
};

// The commands of the main window's menus. The protocol entries are kMenuProtocol + the ServerFormat they
// select.
enum MenuCommand : int {
    kMenuFileService = 101,
    kMenuFileExit = 102,
    kMenuProtocol = 110,
    kMenuOptionsPort = 120,
    kMenuOptionsSvc = 121,
    kMenuOptionsStartup = 122,
    kMenuHelpTopics = 130,
};

// The texts of the port entry.
inline constexpr const char* kPortEntryTitle = "Port Number";
inline constexpr const char* kInvalidEntryTitle = "Invalid Entry";
// The title of the module's message boxes.
inline constexpr const char* kMessageTitle = "Zentrik";

// The state of the module's service as the platform's service manager reports it.
struct ServiceQuery {
    std::string text;
    uint32_t colour = kColourGrey;
};

// The port an entry names, or the "Invalid Entry" message that refuses it: 1 to 4 digits and nothing else.
std::variant<int16_t, std::string> read_port_entry(const std::string& entry);

// "N minutes", "N.N hours" or "N.N days" for the minutes since the last check.
std::string sync_warning_text(int32_t minutes);

class frmMainKtrsvc : public engine::SyncDisplay {
public:
    frmMainKtrsvc();
    ~frmMainKtrsvc() override;
    frmMainKtrsvc(const frmMainKtrsvc&) = delete;
    frmMainKtrsvc& operator=(const frmMainKtrsvc&) = delete;

    const WindowModel& model() const { return model_; }

    // Hooks of the host. Each change of a label's text: the label's name and its new text.
    std::function<void(const std::string& label, const std::string& text)> on_label_change;
    // The exit question (Yes = true). Unset: yes.
    std::function<bool(const std::string& question)> ask_yes_no;
    // A message for the user with an OK button. Unset: the message goes to the debug log only.
    std::function<void(const std::string& title, const std::string& text)> show_message;
    // A one-line entry; nothing when the user cancelled. Unset: nothing is entered.
    std::function<std::optional<std::string>(const std::string& title, const std::string& prompt,
                                             const std::string& initial)> input_text;
    // Opens the service control window for the module's service. Unset: there is none.
    std::function<void()> open_service_window;
    // Anything the window shows besides a label's text changed (visibility, menus, colours).
    std::function<void()> on_view_change;
    // The service manager: the state of the module's service, and its status poll (false when it fails).
    // Unset: there is no service manager on this platform.
    std::function<ServiceQuery()> query_service;
    std::function<bool(std::string& status_text)> poll_service_status;
    // Sends a command word to the running service (svc_call_func); false when it could not be sent.
    std::function<bool(const std::string& word)> call_service;
    // How the start timer enters the main service loop; unset: it calls ServiceLoop itself. The service
    // run enters it from the pump instead, so that the start timer can tick again inside the loop's wait.
    std::function<void()> service_loop;

    // Loading: Initialize, caption and status, menus, the debug marker, the service object's start.
    void Form_Load();
    void Initialize();
    // Shows the window (loading it first when needed) and activates it.
    void Show();
    void Form_Activate();
    // False when the unload was cancelled (the exit question was answered No).
    bool Unload();
    // The user's session ends: unloaded without the exit question, which nobody is left to answer.
    void EndSession();
    bool unloaded() const { return unloaded_; }
    void cmdManual_Click() { Unload(); }

    void timerInit_Timer();
    void tmrMin_Timer();
    // A desktop instance's retry of a listener that could not be set up (the service's settings check
    // does the same).
    void tmrListen_Timer();
    void RefreshStatus();
    // Reloads the options when another program marked them changed; true when it did.
    bool CheckSettings();
    void MainRouter();
    void SyncInit();
    // The "unable to check clock" warning for the minutes since the last successful check.
    void sync_warning(int32_t minutes);
    void SaveOptions(config::COptions& options);

    // The service run: the loop of router, 60-second wait and settings check until the service stops.
    void ServiceLoop();
    // The wait's once-a-second callback; nothing to do, so the loop's wait does without it.
    void NewSecond() {}
    // The service object's events.
    bool ntsrv_Start();
    void ntsrv_Stop();
    bool ntsrv_Pause();
    bool ntsrv_Continue();
    void ntsrv_Control(int32_t code);
    // Stores the status text and colour under "Settings", where a desktop instance reads them.
    void SaveStatus();
    platform::ServiceHost& ntsrv() { return ntsrv_; }

    // The engine's callbacks.
    void DisplayNoChange() override {}
    float DisplaySync(double local_time, double corrected_time) override;
    float DisplaySync(int16_t milliseconds, float fraction, double local_time, double corrected_time) override;
    void NISTdone() override;

    server::ListenerPool& pool() { return pool_; }
    server::ConsoleProtocol& console() { return console_; }
    engine::CNISTtimeset& engine() { return engine_; }
    records::CSync& sync_record() { return sync_; }
    platform::Timer& timerInit() { return timerInit_; }
    platform::Timer& tmrMin() { return tmrMin_; }
    platform::Timer& tmrRelay() { return tmrRelay_; }
    platform::Timer& tmrListen() { return tmrListen_; }
    platform::SerialPort& MSComm1() { return MSComm1_; }

    bool terminate() const { return terminate_; }
    bool service_started() const { return service_started_; }
    void service_started(bool on) { service_started_ = on; }
    bool running_as_service() const { return running_as_service_; }
    void running_as_service(bool on) { running_as_service_ = on; }
    bool service_running_elsewhere() const { return service_running_elsewhere_; }
    int16_t sync_counter() const { return sync_counter_; }
    int32_t sync_warning_minutes() const { return warning_minutes_; }
    // Minimising hides the window; the tray icon brings it back.
    void Form_Minimize();
    // "Show form": restores a minimised window to the foreground, then switches the visibility.
    void show_or_hide();
    frmSysTray& tray() { return frmSysTray_; }

    // The menu bar as the model shows it, and what its entries do.
    std::vector<platform::MenuEntry> menu_bar() const;
    void menu_command(int id);
    void mnuFileService_Click();
    void mnuOptionsProt_Click(int16_t index);
    void mnuOptionsPort_Click();
    void mnuOptionsSvc_Click();
    void mnuOptionsStartup_Click();
    void mnuHelpTopics_Click();

private:
    void set_label(std::string WindowModel::*field, const char* name, const std::string& text);
    void view_changed() const {
        if (on_view_change) on_view_change();
    }
    void message(const std::string& title, const std::string& text) const;
    // Stores options the user changed and tells whoever serves the console to use them.
    void announce_option_change(bool reset_own_listener);
    void listener_report(const server::ListenerReport& report);

    WindowModel model_;
    server::ListenerPool pool_;
    engine::CNISTtimeset engine_;
    server::ConsoleProtocol console_;
    records::CSync sync_;
    platform::Timer timerInit_;
    platform::Timer tmrMin_;
    platform::Timer tmrRelay_;
    platform::Timer tmrListen_;
    platform::SerialPort MSComm1_;
    platform::ServiceHost ntsrv_;
    server::RemoteActions actions_;
    server::RelayControl relay_{MSComm1_, tmrRelay_};
    frmSysTray frmSysTray_;

    bool loaded_ = false;
    bool unloaded_ = false;
    bool asking_exit_ = false;
    bool ending_session_ = false;
    bool terminate_ = false;
    bool service_started_ = false;
    bool running_as_service_ = false;
    bool service_running_elsewhere_ = false;
    bool in_service_loop_ = false;
    int16_t sync_counter_ = 0;
    int32_t warning_minutes_ = 0;  // the last warning given; 0 when none yet
    std::string listener_status_;  // the status shown while the listener is down
    std::string reported_cause_;   // the listener failure last told to standard error and the system log
};

// The program-wide reference to the loaded window (nullptr when none).
frmMainKtrsvc* main_window();

// The desktop run: shows the window and serves in the foreground until it is unloaded (the window's Exit,
// SIGINT or SIGTERM). When standard output is a terminal every label change is printed as one line.
// Returns the process's exit code.
int desktop_run();

// A desktop instance's view of the module's service through the service manager: its state at
// activation and its status poll ("STATUS", then the status values the service stored).
void connect_service_manager(frmMainKtrsvc& window);

// The service run: the window stays hidden, the service object's events drive it, and the process ends
// with the stop event. Returns the process's exit code.
int service_run();

} // namespace ktr::app
