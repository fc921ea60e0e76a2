// What a desktop user does to the module: the tray icon and its mouse messages, the main window's menus
// and port entry, the exit question, and the service control window. The shell, the boxes and the
// service manager are the tests' own, so the logic runs the same with or without windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "app/frm_main_ktrsvc.h"
#include "app/frm_svc_options.h"
#include "app/service_manager_ops.h"
#include "app/time_obj.h"
#include "config/option_store.h"
#include "fakes/loopback_peer.h"
#include "fakes/module_state.h"
#include "platform/service_manager.h"
#include "platform/settings_store.h"

namespace ktr::app {
namespace {

using platform::NotifyIconOperation;
using Strings = std::vector<std::string>;

// The shell's icon calls as "add|modify|remove <tip>", failing when told to.
struct FakeShell {
    Strings calls;
    bool refuse = false;
    frmSysTray::ShellCall call() {
        return [this](NotifyIconOperation op, const platform::NotifyIconRecord& r) {
            const char* names[] = {"add", "modify", "remove"};
            calls.push_back(std::string(names[static_cast<int>(op)]) + " " + r.tip);
            return !refuse;
        };
    }
};

class TrayIcon : public testing::ModuleStateTest {
protected:
    TrayIcon() {
        tray.shell = shell.call();
        tray.picIcon = 4242;
        tray.show_or_hide = [this] { ++shown_or_hidden; };
        tray.cmdManual_Click = [this] { ++exits; };
    }
    FakeShell shell;
    frmSysTray tray;
    int shown_or_hidden = 0, exits = 0;
};

TEST_F(TrayIcon, EachMouseMessageDoesWhatItsRowSaysAnUnknownOneOnlyAfterAQuietSecond) {
    struct Row { uint32_t message; int shows, exits; };
    for (const Row& r : {Row{kMouseMove, 0, 0}, {kLeftButtonDown, 1, 0}, {kLeftButtonUp, 0, 0}, {kLeftDoubleClick, 1, 0},
                         {kRightButtonDown, 0, 0}, {kRightButtonUp, 0, 0}, {kRightDoubleClick, 0, 1}}) {
        shown_or_hidden = exits = 0;
        tray.picIcon_MouseMove(r.message);
        EXPECT_EQ(std::pair(shown_or_hidden, exits), std::pair(r.shows, r.exits)) << r.message;
    }
    // An unknown one acts only when none came this second or the one before; the clock stands at a whole second.
    shown_or_hidden = 0;
    struct Step { int64_t after_ms; int shows; };
    for (const Step& s : {Step{0, 1}, {999, 1}, {1000, 1}, {1001, 2}, {1999, 2}, {2000, 3}}) {
        clock_.advance_ms(s.after_ms);
        tray.picIcon_MouseMove(600);
        EXPECT_EQ(shown_or_hidden, s.shows) << s.after_ms;
    }
}

TEST_F(TrayIcon, TheTipIsCutToTheShellsFieldAndAnIconChangedBeforeItIsThereIsAddedFirst) {
    const std::string long_tip(70, 't');
    EXPECT_TRUE(tray.add_icon(0, long_tip));
    EXPECT_EQ(tray.record().window, 4242) << "the messages go to picIcon";
    EXPECT_EQ(tray.record().tip, std::string(63, 't'));
    tray.delete_icon();
    tray.modify_icon(1, "Busy");
    EXPECT_EQ(shell.calls, (Strings{"add " + std::string(63, 't'), "remove " + std::string(63, 't'), "add Zentrik", "modify Busy"}))
        << "an icon changed before it is there is added first";
    EXPECT_EQ(tray.picture(), 1);
    tray.refresh_icon();
    EXPECT_EQ(shell.calls.back(), "add Busy") << "a restarted shell gets the icon as it was";
    // Characters, not bytes: a letter of two bytes at the end is kept whole.
    tray.modify_icon(1, std::string(62, 't') + "\xC3\xA9\xC3\xA9");
    EXPECT_EQ(tray.record().tip, std::string(62, 't') + "\xC3\xA9");
}

TEST_F(TrayIcon, RefusedShellCallsAreReportedAndChangeNothing) {
    shell.refuse = true;
    EXPECT_FALSE(tray.add_icon(0, "Tovani Service") || tray.check_if_loaded());
    EXPECT_TRUE(traced("Origination: modSysTray\r\nID: nim_add_icon 800, Msg:Add icon error"));
    shell.refuse = false;
    tray.add_icon(0, "Tovani Service");
    shell.refuse = true;
    tray.modify_icon(0, "Other");
    EXPECT_TRUE(traced("ID: nim_modify_icon 801, Msg:Modify icon error"));
}

class DesktopWindowLogic : public testing::ModuleStateTest {
protected:
    DesktopWindowLogic() {
        config::set_option_defaults(config::options());
        config::options().TCPPort(static_cast<int16_t>(testing::free_port()));
        window.tray().shell = shell.call();
        window.show_message = [this](const std::string& title, const std::string& text) { messages.push_back(title + ": " + text); };
        window.input_text = [this](const std::string&, const std::string&, const std::string&) { return entry; };
        window.call_service = [this](const std::string& word) { service_words.push_back(word); return true; };
        window.query_service = [this] { return ServiceQuery{service_runs ? "Running" : "Stopped", service_runs ? kColourGreen : kColourLightRed}; };
    }
    ~DesktopWindowLogic() override { time_obj().InterruptFlag(false); }
    std::string stored(const char* name) const { return platform::get_setting(config::program().title, "Options", name); }

    FakeShell shell;
    frmMainKtrsvc window;
    Strings messages;
    std::optional<std::string> entry;
    Strings service_words;
    bool service_runs = false;
};

// Showing and hiding by the icon is the real windows' test; here a second exit request while the question is
// open (its box still takes messages) is not asked again, and the icon goes once.
TEST_F(DesktopWindowLogic, AnExitRequestWhileTheQuestionIsOpenIsNotAskedAgain) {
    config::options().SystemStartup(true);
    window.Show();
    int asked = 0;
    window.ask_yes_no = [&](const std::string&) {
        ++asked;
        window.tray().picIcon_MouseMove(kRightDoubleClick);
        return true;
    };
    window.tray().picIcon_MouseMove(kRightDoubleClick);
    EXPECT_TRUE(window.unloaded() && asked == 1) << asked;
    EXPECT_EQ(std::count(shell.calls.begin(), shell.calls.end(), "remove Tovani Service"), 1);
}

TEST_F(DesktopWindowLogic, APortEntryIsTakenOnlyWhenItIsOneToFourDigitsUpTo9999) {
    window.Show();
    const std::string digits = "Invalid Entry: Entry must be a number 1-4 digits long.\r\nUse port 1001 as a default.";
    const std::string range = "Invalid Entry: Entry must be a number 0-9999.\r\nUse port 1001 as a default.";
    struct Row { std::string entry, message; int16_t port; };
    const int16_t before = config::options().TCPPort();
    for (const Row& r : {Row{"", digits, before}, {"12345", digits, before}, {"12a", digits, before}, {"-1", range, before},
                         {"1e5", range, before}, {"9.5", range, before}, {"1e3", range, before}, {"+80", range, before},
                         {" 80", range, before}, {"&HFF", range, before}, {"0", "", 0}, {"9999", "", 9999}}) {
        messages.clear();
        entry = r.entry;
        window.mnuOptionsPort_Click();
        EXPECT_EQ(messages, r.message.empty() ? Strings{} : Strings{r.message}) << r.entry;
        EXPECT_EQ(config::options().TCPPort(), r.port) << r.entry;
    }
    EXPECT_EQ(stored("TCPPort"), "9999") << "stored at once";
    EXPECT_EQ(stored("Changed"), "True");
    entry.reset();
    window.mnuOptionsPort_Click();
    EXPECT_TRUE(messages.empty()) << "cancelled";
}

// The check marks and the help file are the real windows' test.
TEST_F(DesktopWindowLogic, TheOptionsMenuChangesTheOptionsAndTellsARunningService) {
    window.Show();
    window.menu_command(kMenuProtocol + int{config::kServerSntp});
    EXPECT_EQ(stored("ServerFormat"), "2");
    EXPECT_TRUE(service_words.empty()) << "no service runs";
    service_runs = true;
    window.menu_command(kMenuProtocol + int{config::kServerNist});
    EXPECT_EQ(service_words, (Strings{"OPTIONS_CHANGED", "RESET_PORTS"}));
    window.menu_command(kMenuOptionsStartup);
    EXPECT_TRUE(config::options().SystemStartup() && config::options().Changed()) << "stored when the window closes";
    window.pool().module_type('T');
    window.menu_command(kMenuFileService);
    EXPECT_EQ(messages, Strings{"Zentrik: Command invalid: Operating system incompatible or not Service module."});
    window.menu_command(kMenuFileExit);
    EXPECT_TRUE(window.unloaded());
}

// A service for the control window: a state the buttons move (a missing one is the real windows' test).
struct FakeService {
    uint32_t state = platform::kServiceStopped;
    // Moves the state from one to another (from 0: any), or answers the refusal.
    ServiceCalls::Operation op(uint32_t from, uint32_t to, const char* refusal) {
        return [=, this](std::string_view, std::string_view, int16_t&) -> std::string {
            if (from != 0 && state != from) return refusal;
            return state = to, "OK";
        };
    }
    ServiceCalls calls_for_window() {
        ServiceCalls c;
        c.status = [this](std::string_view, std::string_view, int16_t& cls) -> std::string {
            const std::map<uint32_t, std::pair<const char*, int16_t>> table = {
                {platform::kServiceStopped, {"Stopped", kClassStopped}}, {platform::kServiceStartPending, {"Start Pending", kClassRunning}},
                {platform::kServiceRunning, {"Running", kClassRunning}}, {platform::kServicePaused, {"Paused", kClassPaused}}};
            return cls = table.at(state).second, table.at(state).first;
        };
        c.start = op(platform::kServiceStopped, platform::kServiceStartPending, "Failed to Start");
        c.stop = op(0, platform::kServiceStopped, "");
        c.pause = op(platform::kServiceRunning, platform::kServicePaused, "Failed to Pause");
        c.resume = op(platform::kServicePaused, platform::kServiceRunning, "Failed to Pause");
        return c;
    }
};

TEST(ServiceControlWindow, EachButtonShowsWhereTheServiceWentInItsClassColour) {
    FakeService service;
    frmSvcOptions form(kServiceName);
    form.calls = service.calls_for_window();
    form.Form_Load();
    EXPECT_EQ(form.model().caption, "Service Control - ZKEnterprise");
    struct Row { void (frmSvcOptions::*button)(); uint32_t state_before; const char* label; uint32_t colour; };
    const Row rows[] = {
        {&frmSvcOptions::cmdStatus_Click, platform::kServiceStopped, "Stopped", kColourLightRed},
        {&frmSvcOptions::cmdPause_Click, platform::kServiceStopped, "Failed to Pause", kColourLightRed},  // class kept
        {&frmSvcOptions::cmdStart_Click, platform::kServiceStopped, "Start Pending", kColourGreen},
        {&frmSvcOptions::cmdPause_Click, platform::kServiceRunning, "Paused", kColourLightYellow},
        {&frmSvcOptions::cmdStart_Click, platform::kServicePaused, "Running", kColourGreen},  // continued
        {&frmSvcOptions::cmdStop_Click, platform::kServiceRunning, "Stopped", kColourLightRed},
    };
    for (const Row& r : rows) {
        service.state = r.state_before;
        (form.*r.button)();
        EXPECT_EQ(form.model().status, r.label);
        EXPECT_EQ(form.model().status_colour, r.colour) << r.label;
    }
}

} // namespace
} // namespace ktr::app
