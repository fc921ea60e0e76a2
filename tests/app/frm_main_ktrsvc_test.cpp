// The main window in process: loading and activation, the console's commands over loopback as the window
// shows them, the records of a run, the sync warning and unloading.
#include <gtest/gtest.h>

#include "app/frm_main_ktrsvc.h"
#include "app/time_obj.h"
#include "config/option_store.h"
#include "config/options.h"
#include "config/program.h"
#include "fakes/loopback_peer.h"
#include "fakes/pump_until.h"
#include "platform/date_value.h"
#include "platform/event_log.h"
#include "platform/settings_store.h"
#include "records/records_fixture.h"

namespace ktr::app {
namespace {

using ktr::testing::pump_until;

class MainWindow : public ktr::testing::RecordsTest {
protected:
    void SetUp() override {
        RecordsTest::SetUp();
        dir_.write("debug.txt", "");  // the marker keeps tracing on once the window is loaded
        config::set_option_defaults(config::options());
        config::options().TCPPort(static_cast<int16_t>(port));
        config::options().LoggingEvntOn(true);
        clock_.set_utc(platform::make_date(2026, 12, 5, 5, 7, 3, 45));
    }
    void TearDown() override {
        window.reset();
        time_obj().InterruptFlag(false);
        RecordsTest::TearDown();
    }
    frmMainKtrsvc& show() {
        window = std::make_unique<frmMainKtrsvc>();
        window->Show();
        return *window;
    }
    // One TCP request as the console sends it; the reply ("" when none came).
    std::string ask(const std::string& request, int wait_ms = 2000) {
        ktr::testing::TcpPeer peer;
        if (!peer.connect(port) || !peer.send(request)) return "?";
        std::string reply;
        pump_until([&] {
            reply += peer.receive(0);
            return !reply.empty();
        }, wait_ms);
        peer.close();
        pump_until([&] { return listening(); });
        return reply;
    }
    bool listening() {
        platform::Socket* s = window->pool().tcpServer()(window->pool().listener_index());
        return s && s->State() == platform::kStateListening;
    }
    std::string log() const { return window->model().lblNISTLog; }

    uint16_t port = ktr::testing::free_port();
    std::unique_ptr<frmMainKtrsvc> window;
};

TEST_F(MainWindow, LoadingAndActivationWithoutAServiceManagerListen) {
    frmMainKtrsvc& w = show();
    const WindowModel& m = w.model();
    EXPECT_EQ(m.caption, "Enterprise Service Module");
    EXPECT_EQ(m.status, "Ready");
    EXPECT_TRUE(m.visible);
    EXPECT_EQ(m.service_status, "No service manager");
    EXPECT_FALSE(w.service_running_elsewhere());
    EXPECT_TRUE(listening());
    EXPECT_EQ(main_window(), &w);
    EXPECT_FALSE(config::options().Changed());
}

TEST_F(MainWindow, AServiceFoundRunningIsPolledInsteadOfListening) {
    window = std::make_unique<frmMainKtrsvc>();
    window->query_service = [] { return ServiceQuery{"Running", kColourGreen}; };
    window->Show();
    EXPECT_TRUE(window->service_running_elsewhere());
    EXPECT_FALSE(listening());
    EXPECT_TRUE(window->tmrMin().Enabled());
    EXPECT_EQ(window->tmrMin().Interval(), 15000);
    EXPECT_EQ(window->model().status,
              "Note: the background service (ZKEnterprise) is now\r\nrunning and responding to requests from Enterprise.");
    EXPECT_NE(debug_text().find("Not starting listening"), std::string::npos);

    window->query_service = [] { return ServiceQuery{"Stopped", kColourLightRed}; };
    window->Form_Activate();
    EXPECT_EQ(window->model().status, "Ready") << "the note goes with the service";
    EXPECT_TRUE(listening());

    window->tmrMin_Timer();
    EXPECT_EQ(window->model().service_status_colour, kColourLightYellow) << "no status poll available";
    window->poll_service_status = [](std::string& text) {
        text = "Set client time";
        return true;
    };
    window->tmrMin_Timer();
    EXPECT_EQ(window->model().service_status_colour, kColourGreen);
    EXPECT_EQ(window->model().status, "Set client time");
}

TEST_F(MainWindow, AListenerThatCannotStartSaysWhyOnceAndTriesAgainEveryMinute) {
    std::vector<std::string> system_log;
    platform::set_event_recorder([&](std::string_view, int, int32_t, std::string_view text) {
        system_log.emplace_back(text);
        return true;
    });
    auto other = std::make_unique<ktr::testing::PortHolder>(port, true);
    show();
    const std::string trouble = "Not listening on TCP port " + std::to_string(port) + ": Address in use";
    EXPECT_TRUE(window->model().status.starts_with(trouble + "; trying again every minute.\r\nAnother program"))
        << window->model().status;
    const auto tries_after = [&](int32_t ms) {
        clock_.advance_ms(ms);
        platform::pump_events(0);
        const std::string t = debug_text();
        size_t n = 0;
        for (size_t at = t.find("Error init server"); at != std::string::npos; at = t.find("Error init server", at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(tries_after(59000), 1u);
    EXPECT_EQ(tries_after(1000), 2u);
    EXPECT_EQ(system_log.size(), 1u) << "once per cause";
    other.reset();
    EXPECT_EQ(tries_after(60000), 2u);
    EXPECT_TRUE(listening());
    EXPECT_EQ(window->model().status, "Ready");
    EXPECT_FALSE(window->tmrListen().Enabled());
    platform::set_event_recorder(nullptr);
}

TEST_F(MainWindow, EachExchangeIsShownOnTheLogLabel) {
    show();
    EXPECT_EQ(ask("H+"), "OK-H");
    EXPECT_NE(log().find(" Request from 127.0.0.1\r\n\r\nCheck Heartbeat\r\n\r\nResponse: OK"), std::string::npos) << log();
    EXPECT_EQ(ask("h+"), "Unknown");
    EXPECT_NE(log().find("\r\n\r\nUnknown command\r\n\r\nResponse: Error"), std::string::npos);
    EXPECT_EQ(ask("HELLO", 300), "") << "no \"+\": no reply";
    EXPECT_EQ(log(), "") << "the label is cleared for every TCP request";
    // The connected member shows the module's port and the console's own port.
    const std::string trace = debug_text();
    EXPECT_NE(trace.find("SERVER TCP NIST(ENT), local port: " + std::to_string(port) + ", remote port: "),
              std::string::npos);
    EXPECT_EQ(trace.find(", remote port: 0\r"), std::string::npos);
}

TEST_F(MainWindow, ASetIsAnsweredWithTheClockBeforeAndRecordedAfter) {
    show();
    EXPECT_EQ(ask("S+ 26-12-05 05:17:03 500"), "OK-S 26-12-05 05:07:03.045");
    EXPECT_EQ(clock_.utc_now().minute, 17);
    const records::CSync& rec = window->sync_record();
    EXPECT_EQ(rec.SyncDifferenceSec(), 600);
    EXPECT_EQ(rec.SyncServer(), "127.0.0.1");
    EXPECT_EQ(config::options().LastSyncTime(), rec.SyncLocalTime());
    EXPECT_NE(dir_.read("evntfile.txt").find("time changed: 600 seconds."), std::string::npos);
    EXPECT_NE(dir_.read("evntfile.txt").find("Time difference of 600 seconds exceeds limit of 30 seconds."),
              std::string::npos);

    EXPECT_EQ(ask("F+ 26-12-05 05:17:03 600"), "OK-F 26-12-05 05:17:03");
    EXPECT_EQ(clock_.utc_now().millisecond, 600) << "forced below the minimum";
    EXPECT_EQ(ask("S+ 26-12-05 05:17:03 700"), "OK-S 26-12-05 05:17:03.6");
    EXPECT_EQ(clock_.utc_now().millisecond, 600) << "an earlier force does not force this run";
    EXPECT_NE(dir_.read("evntfile.txt").find("Setting done - Time difference too small"), std::string::npos);
}

TEST_F(MainWindow, TheSyncWarningCountsFromTheLastSyncWithItsOwnThreshold) {
    EXPECT_EQ(sync_warning_text(59), "59 minutes");
    EXPECT_EQ(sync_warning_text(90), "1.5 hours");
    EXPECT_EQ(sync_warning_text(1439), "24.0 hours");
    EXPECT_EQ(sync_warning_text(2880), "2.0 days");

    config::COptions& o = config::options();
    o.SyncWarning(true);
    o.SyncWarningInterval(7200);
    o.msecTimeOffset(0);  // a warning threshold of its own, not the clock's offset
    o.LastSyncTime(clock_.utc() - 1.0 / 24);
    show();
    EXPECT_EQ(window->model().status, "Ready") << "one hour is within two";
    EXPECT_NE(debug_text().find("Seconds since last time check: 3600"), std::string::npos);

    window.reset();
    o.LastSyncTime(clock_.utc() - 3.0 / 24);
    show();
    EXPECT_EQ(window->sync_warning_minutes(), 180);
    EXPECT_NE(debug_text().find("First Sync Warning"), std::string::npos);
    EXPECT_NE(dir_.read("evntfile.txt").find("Unable to check clock for the last 3.0 hours"), std::string::npos);
    window->sync_warning(200);
    EXPECT_EQ(window->model().status, "Warning: Unable to check clock\r\nfor the last 3.3 hours");
}

TEST_F(MainWindow, ChangedOptionsAreReloadedOnceAndSavedAtUnload) {
    show();
    const std::string app = config::program().title;
    EXPECT_TRUE(window->CheckSettings()) << "no stored flag reads as changed";
    EXPECT_EQ(platform::get_setting(app, "Options", "Changed"), "False");
    EXPECT_FALSE(window->CheckSettings());

    config::options().SettingMode(3);
    config::options().Changed(true);
    window->MainRouter();
    EXPECT_NE(debug_text().find("ELSE Mode"), std::string::npos);
    EXPECT_TRUE(window->Unload());
    EXPECT_TRUE(window->unloaded());
    EXPECT_TRUE(window->terminate());
    EXPECT_TRUE(time_obj().InterruptFlag());
    EXPECT_FALSE(config::options().Changed());
    EXPECT_EQ(platform::get_setting(app, "Options", "SettingMode"), "3");
}

TEST_F(MainWindow, AnAutomaticallyStartedWindowAsksBeforeItGoes) {
    config::options().SystemStartup(true);
    show();
    int asked = 0;
    window->ask_yes_no = [&](const std::string& q) {
        ++asked;
        EXPECT_EQ(q, "Are you sure you want to exit the Service Module?");
        return false;
    };
    EXPECT_FALSE(window->Unload());
    EXPECT_TRUE(window->model().minimized);
    EXPECT_FALSE(window->unloaded());
    EXPECT_TRUE(window->Unload()) << "a minimised window goes without asking";
    EXPECT_EQ(asked, 1);
    EXPECT_NE(debug_text().find("Exiting systray (minimized)..."), std::string::npos);
}

} // namespace
} // namespace ktr::app
