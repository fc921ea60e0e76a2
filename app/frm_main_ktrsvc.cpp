#include "app/frm_main_ktrsvc.h"

#include <cmath>
#include <cstdio>

#include "app/auto_setting.h"
#include "app/desktop_host.h"
#include "app/service_manager_ops.h"
#include "app/time_obj.h"
#include "config/option_store.h"
#include "config/program.h"
#include "diag/debug_log.h"
#include "engine/time_util.h"
#include "platform/clock.h"
#include "platform/convert.h"
#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/pending_error.h"
#include "platform/settings_store.h"
#include "platform/system.h"
#include "records/log_files.h"

namespace ktr::app {
namespace {

frmMainKtrsvc* g_window = nullptr;

char module_type_letter() {
    const auto letter = platform::get_env("KTRSVC_MODULE_TYPE");
    return letter && !letter->empty() ? (*letter)[0] : 'M';
}

// The local clock as "hh:nn:ss.mmm".
std::string local_clock_text() {
    const platform::DateParts t = platform::clock().local_now();
    return platform::format_date(platform::parts_to_date(t), "hh:nn:ss") + "." + platform::format_number(t.millisecond, "00#");
}

void refresh_debug_marker() { diag::debug_state().on = diag::check_debug_marker(diag::debug_on()); }

constexpr const char* kExitQuestion = "Are you sure you want to exit the Service Module?";
constexpr double kLoopWaitSeconds = 60;

const char* true_false(bool on) { return on ? "True" : "False"; }

// A label change as one line of standard output: a terminal shows it, and under the service manager it
// goes to the journal.
void print_label(const std::string& label, const std::string& text) {
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') continue;
        line += text[i] == '\n' ? (line.empty() || line.back() == ' ' ? "" : " | ") : std::string(1, text[i]);
    }
    std::printf("%s: %s\n", label.c_str(), line.c_str());
    std::fflush(stdout);
}

} // namespace

std::string sync_warning_text(int32_t minutes) {
    if (minutes < 60) return platform::format_number(minutes, "0") + " minutes";
    if (minutes < 1440) return platform::format_number(minutes / 60.0, "0.0") + " hours";
    return platform::format_number(minutes / 1440.0, "0.0") + " days";
}

frmMainKtrsvc::frmMainKtrsvc() : console_(pool_, engine_, *this) {
    pool_.module_type(module_type_letter());
    pool_.on_log_caption = [this](const std::string& caption) {
        set_label(&WindowModel::lblNISTLog, "lblNISTLog", caption);
    };
    pool_.on_listener_report = [this](const server::ListenerReport& report) { listener_report(report); };
    timerInit_.Interval(2000);
    tmrMin_.Interval(59000);
    tmrRelay_.Interval(62000);
    tmrListen_.Interval(60000);
    console_.do_command = [this](const std::string& request, std::string& status) {
        return actions_.do_command(request, status);
    };
    console_.do_Relay = [this](const std::string& request, int16_t com_port, std::string& relay_text,
                               std::string& status) { return relay_.do_Relay(request, com_port, relay_text, status); };
    timerInit_.on_timer([this] { timerInit_Timer(); });
    tmrMin_.on_timer([this] { tmrMin_Timer(); });
    tmrListen_.on_timer([this] { tmrListen_Timer(); });
    ntsrv_.on_start = [this] { return ntsrv_Start(); };
    ntsrv_.on_stop = [this] { ntsrv_Stop(); };
    ntsrv_.on_pause = [this] { return ntsrv_Pause(); };
    ntsrv_.on_continue = [this] { return ntsrv_Continue(); };
    ntsrv_.on_control = [this](int32_t code) { ntsrv_Control(code); };
    frmSysTray_.show_or_hide = [this] { show_or_hide(); };
    frmSysTray_.cmdManual_Click = [this] { cmdManual_Click(); };
}

frmMainKtrsvc::~frmMainKtrsvc() {
    if (g_window == this) g_window = nullptr;
}

frmMainKtrsvc* main_window() { return g_window; }

void frmMainKtrsvc::set_label(std::string WindowModel::*field, const char* name, const std::string& text) {
    // Compared before it is copied: a label shown again unchanged (requests within one second) costs nothing.
    if (model_.*field == text) return;
    model_.*field = text;
    // The service manager shows the main status label as the service's status.
    if (field == &WindowModel::status) ntsrv_.report_status(model_.status);
    if (on_label_change) on_label_change(name, model_.*field);
}

void frmMainKtrsvc::Initialize() {
    config::COptions& o = config::options();
    KTR_TRACE("-----Initialize Svc Module ----");
    g_window = this;
    model_.protocol_checked = o.ServerFormat();
    if (o.ServerConn() == config::kConnDirectDial) set_label(&WindowModel::status, "status", "NIST (direct dial)");
    SyncInit();
    bool month_first = false, day_first = false, year_first = false;
    const std::string pattern =
        engine::detect_short_date_order(month_first, day_first, year_first, running_as_service_ ? "SYSTEM" : "USER");
    engine::set_month_first(month_first);
    KTR_TRACE("Short date Format: " + pattern);
    pool_.listener_index() = 0;
    sync_counter_ = 0;
    o.Changed(false);
}

void frmMainKtrsvc::Form_Load() {
    if (loaded_) return;
    loaded_ = true;
    Initialize();
    model_.caption = kWindowCaption;
    set_label(&WindowModel::status, "status", "Ready");
    if (platform::os_family() == "Windows NT") {
        model_.service_menus_visible = true;
        model_.service_status_visible = true;
    }
    model_.startup_checked = config::options().SystemStartup();
    refresh_debug_marker();
    // The service object: a process the service manager started is handed over to it here; its start
    // event follows from the pump. A desktop instance goes on without it.
    ntsrv_.StartService();
    KTR_TRACE("Start Service sent");
}

void frmMainKtrsvc::Show() {
    Form_Load();
    Form_Activate();
}

void frmMainKtrsvc::Form_Activate() {
    if (service_started_ || unloaded_) return;
    if (!running_as_service_) {
        // Added once: the shell refuses a second icon of the same number.
        if (!frmSysTray_.check_if_loaded()) frmSysTray_.add_icon(0, "Tovani Service");
        model_.minimized = false;
    }
    model_.topmost = true;
    model_.visible = true;
    model_.show_form_checked = true;
    KTR_TRACE("--------------------Form Main(Svc Module)  ----------------------------------");
    if (!running_as_service_ && platform::os_family() == "Windows NT") {
        const ServiceQuery state = query_service ? query_service() : ServiceQuery{"No service manager", kColourGrey};
        model_.service_status_colour = state.colour;
        set_label(&WindowModel::service_status, "service", state.text);
        if (state.colour == kColourGreen) {
            service_running_elsewhere_ = true;
            model_.status_button_visible = true;
            tmrMin_.Interval(15000);
            tmrMin_.Enabled(true);
            set_label(&WindowModel::status, "status",
                      "Note: the background service (ZKEnterprise) is now\r\n"
                      "running and responding to requests from Enterprise.");
        } else {
            service_running_elsewhere_ = false;
            if (model_.status.starts_with("Note:")) set_label(&WindowModel::status, "status", "Ready");
        }
    }
    if (!service_running_elsewhere_) pool_.serv_init(pool_.listener_index());
    else KTR_TRACE("Not starting listening");
    view_changed();
}

void frmMainKtrsvc::timerInit_Timer() {
    timerInit_.Enabled(false);
    model_.status_button_visible = false;
    set_label(&WindowModel::service_status, "service", "Running");
    // A continue re-arms this timer while the loop runs and the listener still listens: it is set up
    // afresh (the port stays open across the close, so nothing queued is lost) rather than refused.
    if (in_service_loop_) pool_.serverClose(pool_.listener_index());
    pool_.serv_init(pool_.listener_index());
    if (service_started_) {
        // Set up, listening or retrying: the manager may count the service as started.
        ntsrv_.report_ready();
        if (service_loop) service_loop();
        else ServiceLoop();
    } else {
        Form_Activate();
    }
}

void frmMainKtrsvc::ServiceLoop() {
    if (!service_started_) {
        KTR_TRACE("waiting to init service");
        return;
    }
    // A continue re-arms the start timer while the loop waits: the listener is set up again and the
    // loop already running goes on.
    if (in_service_loop_) return;
    in_service_loop_ = true;
    KTR_TRACE("Main service loop----------");
    while (!terminate_) {
        MainRouter();
        // NewSecond does nothing, so the wait gets no callback: an idle service sleeps through the minute
        // instead of waking every 35 ms, and still handles each event as it comes.
        const int32_t left = time_obj().Sleep(kLoopWaitSeconds, nullptr);
        // The stop event unloaded the window inside the wait: the service ends here, the loop does not resume.
        if (unloaded_) break;
        if (left >= 2) break;
        CheckSettings();
    }
    in_service_loop_ = false;
    if (unloaded_) return;
    KTR_TRACE("Got Termination Message");
    platform::save_setting(config::program().title, "Options", "Changed", "True");
    Unload();
}

bool frmMainKtrsvc::ntsrv_Start() {
    terminate_ = false;
    service_started_ = true;
    running_as_service_ = true;
    tmrMin_.Enabled(false);
    auto& debug = diag::debug_state();
    debug.file_path = platform::join_path(platform::program_folder(), "DebugFileSvc.txt");
    if (debug.on) {
        diag::set_debug_file_mode(false);
        diag::set_debug_file_mode(true);
    }
    KTR_TRACE("-------------Starting ZK Enterprise Service Module-----------");
    model_.visible = false;
    model_.status_button_visible = false;
    CheckSettings();
    timerInit_.Enabled(true);
    return true;
}

void frmMainKtrsvc::ntsrv_Stop() {
    KTR_TRACE("Got StopService Signal---Stopping Service Module");
    terminate_ = true;
    time_obj().InterruptFlag(true);
    if (diag::debug_state().to_file) diag::set_debug_file_mode(false);
    ntsrv_.report_stopping();
    Unload();
}

bool frmMainKtrsvc::ntsrv_Pause() {
    KTR_TRACE("Got PauseService Signal");
    return true;
}

bool frmMainKtrsvc::ntsrv_Continue() {
    KTR_TRACE("Got Continue Service Signal");
    timerInit_.Enabled(true);
    return true;
}

namespace {

// Closes and reopens the debug file, so that everything written so far is on disk.
void flush_debug_file() {
    diag::set_debug_file_mode(false);
    diag::set_debug_file_mode(true);
}

// The reload lists every option in the debug file, which is then flushed, whatever the debug state.
void list_options_in_debug_file(const std::string& app) {
    auto& debug = diag::debug_state();
    if (debug.on) {
        config::app_settings::RegistryGet(config::options(), app);
        flush_debug_file();
        return;
    }
    debug.on = true;
    diag::set_debug_file_mode(true);
    config::app_settings::RegistryGet(config::options(), app);
    diag::set_debug_file_mode(false);
    debug.on = false;
}

} // namespace

void frmMainKtrsvc::ntsrv_Control(int32_t code) {
    KTR_TRACE("Svc Control event  " + std::to_string(code) + " received");
    const std::string& app = config::program().title;
    // The receipt comes first, so that a code the table does not know is acknowledged too.
    platform::save_setting(app, "Settings", "OK",
                           std::to_string(code) + "-" + platform::format_date(platform::now_local(), "General Date"));
    auto& debug = diag::debug_state();
    switch (static_cast<uint32_t>(code) - 128u) {
    case 0:
        KTR_TRACE(" ---Options Changed");
        platform::save_setting(app, "Options", "Changed", "True");
        CheckSettings();
        set_label(&WindowModel::status, "status", "Options Changed");
        break;
    case 1:
        KTR_TRACE(" ---Show Options ");
        list_options_in_debug_file(app);
        break;
    case 2:
        KTR_TRACE(std::string(" ---Toggle debug (currently ") + true_false(debug.on) + ")");
        debug.on = !debug.on;
        diag::set_debug_file_mode(debug.on);
        break;
    case 3:
        KTR_TRACE(" ---Flush Debug");
        if (debug.on) flush_debug_file();
        break;
    case 4: KTR_TRACE(" ---Flush logs"); break;
    case 5: KTR_TRACE(" ---Do heartbeat"); break;
    case 6:
        KTR_TRACE(std::string(" ---Turn debug  ON (currently ") + true_false(debug.on) + ")");
        diag::set_debug_file_mode(true);
        break;
    case 7:
        KTR_TRACE(std::string(" ---Turn debug  OFF (currently ") + true_false(debug.on) + ")");
        diag::set_debug_file_mode(false);
        break;
    case 12:
        KTR_TRACE(" ---Get Status Svc Mod");
        SaveStatus();
        if (pool_.listener_restart()) pool_.serv_init(pool_.listener_index());
        break;
    case 20:
        KTR_TRACE(" ---Reset ports");
        pool_.reset_server(pool_.listener_index());
        break;
    default: KTR_TRACE(" <---Unknown code"); break;
    }
}

void frmMainKtrsvc::SaveStatus() {
    const std::string& app = config::program().title;
    platform::save_setting(app, "Settings", "setstatcolor", std::to_string(model_.service_status_colour));
    platform::save_setting(app, "Settings", "setstattext", model_.status);
}

void frmMainKtrsvc::tmrMin_Timer() {
    KTR_TRACE("New minute");
    RefreshStatus();
}

void frmMainKtrsvc::tmrListen_Timer() {
    if (pool_.listener_restart()) pool_.serv_init(pool_.listener_index());
    else tmrListen_.Enabled(false);
}

// Whatever the debug state, a listener that cannot be set up is told where the user looks: the status
// label (a terminal shows it), standard error and, once per cause, the system log.
void frmMainKtrsvc::listener_report(const server::ListenerReport& report) {
    if (report.listening) {
        tmrListen_.Enabled(false);
        reported_cause_.clear();
        if (model_.status == listener_status_) set_label(&WindowModel::status, "status", "Ready");
        listener_status_.clear();
        std::fprintf(stderr, "ktrsvc: listening on %s port %d\n", report.protocol.c_str(), report.port);
        return;
    }
    const std::string trouble = server::listener_trouble_text(report);
    const std::string remedy = server::listener_remedy_text(report);
    listener_status_ = trouble + "\r\n" + remedy;
    set_label(&WindowModel::status, "status", listener_status_);
    if (!running_as_service_ && !tmrListen_.Enabled()) tmrListen_.Enabled(true);
    const std::string cause = trouble + std::to_string(report.error);
    if (cause == reported_cause_) return;
    reported_cause_ = cause;
    std::fprintf(stderr, "ktrsvc: %s %s\n", trouble.c_str(), remedy.c_str());
    if (!platform::report_system_event(config::program().title, static_cast<int>(platform::EventType::error), 1,
                                       trouble + " " + remedy))
        platform::clear_pending_error();
}

void frmMainKtrsvc::RefreshStatus() {
    std::string text;
    if (poll_service_status && poll_service_status(text)) {
        model_.service_status_colour = kColourGreen;
        set_label(&WindowModel::status, "status", text);
        view_changed();
        return;
    }
    KTR_TRACE("Status svc call failed");
    model_.service_status_colour = kColourLightYellow;
    view_changed();
}

bool frmMainKtrsvc::CheckSettings() {
    KTR_TRACE("Check Settings");
    if (diag::debug_on()) refresh_debug_marker();
    const std::string& app = config::program().title;
    const bool changed = config::option_boolean(platform::get_setting(app, "Options", "Changed", "1")).value_or(false);
    if (!changed) {
        refresh_debug_marker();
        if (pool_.listener_restart()) pool_.serv_init(pool_.listener_index());
        return false;
    }
    refresh_debug_marker();
    KTR_TRACE("Options changed, getting new options");
    records::PrintEvntBody("Options changed, getting new options", 4, config::options().LoggingEvntFileName());
    config::app_settings::RegistryGet(config::options(), app);
    platform::save_setting(app, "Options", "Changed", "False");
    return true;
}

void frmMainKtrsvc::MainRouter() {
    KTR_TRACE("--------------MainRouter (Svc)--------------->  ");
    switch (config::options().SettingMode()) {
    case config::kModeManual: KTR_TRACE("Manual Mode"); break;
    case config::kModeBatch: KTR_TRACE("Batch Mode Done"); break;
    default: KTR_TRACE("ELSE Mode"); break;
    }
}

void frmMainKtrsvc::SyncInit() {
    KTR_TRACE("---SyncInit---");
    config::COptions& o = config::options();
    sync_.Init_Registry(o);
    // Start-up does not read the last check with the other options: it is the one the last checking run
    // stored, so that a module restarted after failed runs still warns and one that checked does not.
    if (const auto checked = config::app_settings::RegistrySyncSettingGet(config::program().title)) o.LastSyncTime(*checked);
    if (!o.SyncWarning()) return;
    const double seconds = std::round((platform::now_local() - o.LastSyncTime()) * 86400.0);
    KTR_TRACE("Seconds since last time check: " + platform::format_number(seconds, "0"));
    // The option made for this threshold, not the clock's millisecond offset.
    if (seconds > static_cast<double>(o.SyncWarningInterval())) {
        const double minutes = std::round(seconds / 60.0);
        sync_warning(minutes > INT32_MAX ? INT32_MAX : static_cast<int32_t>(minutes));
    }
}

void frmMainKtrsvc::sync_warning(int32_t minutes) {
    const std::string text = sync_warning_text(minutes);
    const config::COptions& o = config::options();
    if (warning_minutes_ == 0 || minutes <= warning_minutes_) {
        KTR_TRACE("First Sync Warning");
        if (o.LoggingEvntOn())
            records::PrintEvntBody("Unable to check clock for the last " + text, 2, o.LoggingEvntFileName());
    }
    warning_minutes_ = minutes;
    set_label(&WindowModel::status, "status", "Warning: Unable to check clock\r\nfor the last " + text);
}

void frmMainKtrsvc::SaveOptions(config::COptions& options) {
    const config::ProgramValues& program = config::program();
    const bool saved = config::app_settings::RegistrySet(options, program.title) &&
                       config::key_store::Registry_Set(program.options_key, options);
    KTR_TRACE(saved ? "New Settings saved" : "Error saving new settings.");
    options.Changed(false);
}

bool frmMainKtrsvc::Unload() {
    if (unloaded_) return true;
    KTR_TRACE(model_.caption + " UNLOADING");
    config::COptions& o = config::options();
    if (!running_as_service_ && !service_running_elsewhere_ && o.SystemStartup() && !ending_session_) {
        if (model_.minimized) {
            KTR_TRACE("Exiting systray (minimized)...");
        } else {
            // While the question is open its box still takes messages: a second exit request waits on the
            // same answer instead of asking again and ending twice.
            if (asking_exit_) return false;
            asking_exit_ = true;
            const bool yes = !ask_yes_no || ask_yes_no(kExitQuestion);
            asking_exit_ = false;
            if (!yes) {
                Form_Minimize();
                return false;
            }
            KTR_TRACE("Exiting systray...");
        }
    }
    terminate_ = true;
    time_obj().InterruptFlag(true);
    if (o.LoggingFileOn()) records::PrintSyncEnd(o.LoggingMode());
    // Also from the tray: a change made before the window was minimised is not lost.
    if (o.Changed()) SaveOptions(o);
    if (diag::debug_state().to_file) diag::set_debug_file_mode(false);
    timerInit_.Enabled(false);
    tmrMin_.Enabled(false);
    tmrRelay_.Enabled(false);
    tmrListen_.Enabled(false);
    model_.visible = false;
    // Unloading the tray window removes the icon.
    frmSysTray_.delete_icon();
    unloaded_ = true;
    view_changed();
    return true;
}

void frmMainKtrsvc::EndSession() {
    if (running_as_service_) return;  // a service outlives the sessions of the users who log off
    ending_session_ = true;
    Unload();
}

float frmMainKtrsvc::DisplaySync(double, double) {
    platform::Clock& c = platform::clock();
    const int32_t first = c.tick_count();
    const int32_t second = c.tick_count();
    return static_cast<float>(second - first) / 1000.0f;
}

float frmMainKtrsvc::DisplaySync(int16_t, float, double local_time, double corrected_time) {
    return DisplaySync(local_time, corrected_time);
}

void frmMainKtrsvc::NISTdone() {
    const config::COptions& o = config::options();
    KTR_TRACE("TIME SETTING DONE at " + local_clock_text());
    const records::CSync previous = sync_;
    // The fraction is this run's own, like the rest of the record.
    const bool use_frac = (o.ServerFormat() == config::kServerNist || o.ServerFormat() == config::kServerSntp) && engine_.SettingDifferenceFrac() != 0.0f;
    sync_.SyncUseFrac(use_frac);
    sync_.SyncSecFrac(use_frac ? engine_.SettingDifferenceFrac() : 0.0f);
    const std::string server = console_.peer();
    sync_.Save_Setting(engine_, server);
    if (engine_.SettingStatus() != config::kStatusSettingMade) sync_.SyncAccuracy(0);
    else sync_.Compare_Sync(previous);
    // Only a run that compared the clock is a check: it alone refreshes the last-check time and the
    // accuracy, and stays the record that the next drift is measured from.
    const bool checked = engine::checked_clock(engine_.SettingStatus());
    if (checked) sync_.Save_Registry();
    auto_setting().PreviousSyncAccuracy(
        platform::to_int16(static_cast<double>(sync_.SyncAccuracy())).value_or(auto_setting().PreviousSyncAccuracy()));
    auto_setting().Save_Auto_Settings(sync_);

    if (o.LoggingOn() && o.LoggingFileOn())
        records::PrintSyncBody(sync_, server, o.LoggingFileName(), o.LoggingMode());
    if (o.LoggingEvntOn()) {
        const std::string text =
            engine_.SettingStatus() == config::kStatusSettingMade
                ? "time changed: " + std::to_string(sync_.SyncDifferenceSec()) + " seconds."
                : "Setting done - " + engine::setting_status_text(engine_.SettingStatus());
        records::PrintEvntBody(text, 4, o.LoggingEvntFileName());
    }
    if (o.LoggingMaxSecOn() && std::abs(sync_.SyncDifferenceSec()) > o.LoggingMaxSec())
        records::PrintEvntBody("Time difference of " + std::to_string(sync_.SyncDifferenceSec()) +
                                   " seconds exceeds limit of " + std::to_string(o.LoggingMaxSec()) + " seconds.",
                               2, o.LoggingEvntFileName());
    if (!checked) sync_ = previous;
}

int desktop_run() {
    frmMainKtrsvc window;
    const bool terminal = platform::stdout_is_terminal();
    connect_service_manager(window);
    if (terminal) window.on_label_change = print_label;
    // Real windows where the system has them; otherwise the terminal shows the labels and asks.
    std::unique_ptr<DesktopHost> host;
    if (platform::desktop_available()) host = std::make_unique<DesktopHost>(window);
    if (host && !host->ready()) host.reset();
    if (!host && terminal) {
        window.ask_yes_no = [](const std::string& question) {
            std::printf("%s [y/N] ", question.c_str());
            std::fflush(stdout);
            // Read with stdio: the standard C++ streams would set up their locales at start, resident for good.
            std::string answer;
            int c;
            while ((c = std::getchar()) != EOF && c != '\n') answer += static_cast<char>(c);
            if (c == EOF && answer.empty()) return true;
            return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
        };
    }
    const auto unload = [&window](platform::StopRequest) { window.Unload(); };
    platform::on_stop_request(platform::StopRequest::interrupt, unload);
    platform::on_stop_request(platform::StopRequest::terminate, unload);
    window.Show();
    while (!window.unloaded()) platform::pump_events(60000);
    host.reset();
    platform::on_stop_request(platform::StopRequest::interrupt, nullptr);
    platform::on_stop_request(platform::StopRequest::terminate, nullptr);
    return 0;
}

} // namespace ktr::app

namespace ktr::app {

void connect_service_manager(frmMainKtrsvc& window) {
    window.query_service = [] {
        int16_t status_class = kClassError;
        std::string text = ServiceStatus("", kServiceName, status_class);
        return ServiceQuery{std::move(text), class_colour(status_class)};
    };
    window.poll_service_status = [](std::string& status_text) {
        const config::ProgramValues& program = config::program();
        std::string receipt;
        if (!svc_call_func("STATUS", program.title, program.settings_key, receipt)) return false;
        std::string colour;
        return ReadWithRetry(program.settings_key, program.registry_root, "setstattext", status_text) &&
               ReadWithRetry(program.settings_key, program.registry_root, "setstatcolor", colour);
    };
    window.call_service = [](const std::string& word) {
        const config::ProgramValues& program = config::program();
        std::string receipt;
        return svc_call_func(word, program.title, program.settings_key, receipt);
    };
}

int service_run() {
    frmMainKtrsvc window;
    bool loop_due = false;
    window.service_loop = [&loop_due] { loop_due = true; };
    window.on_label_change = print_label;
    window.Form_Load();
    // Without a way to receive the manager's requests the window serves as a desktop instance would.
    if (!window.ntsrv().serving()) window.Show();
    while (!window.unloaded()) {
        platform::pump_events(60000);
        if (loop_due && !window.unloaded()) {
            loop_due = false;
            window.ServiceLoop();
        }
    }
    window.ntsrv().report_stopping();
    return 0;
}

} // namespace ktr::app
