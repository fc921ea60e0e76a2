// The main window in process: loading, the console's commands over loopback as the window shows them, the
// records of a run (with the Auto record), the sync warning and unloading.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>

#include "app/auto_setting.h"
#include "app/frm_main_ktrsvc.h"
#include "app/time_obj.h"
#include "config/option_store.h"
#include "fakes/loopback_peer.h"
#include "fakes/module_state.h"
#include "fakes/pump_until.h"
#include "platform/date_value.h"
#include "platform/format.h"
#include "platform/settings_store.h"

namespace ktr::app {
namespace {

class MainWindow : public testing::ModuleStateTest {
protected:
    MainWindow() {
        dir_.write("debug.txt", "");  // the marker keeps tracing on once the window is loaded
        config::set_option_defaults(config::options());
        config::options().TCPPort(static_cast<int16_t>(port));
        config::options().LoggingEvntOn(true);
        clock_.set_utc(platform::make_date(2026, 12, 5, 5, 7, 3, 45));
    }
    ~MainWindow() override { window.reset(); time_obj().InterruptFlag(false); }
    void show(std::function<ServiceQuery()> query = {}) {
        window.reset();
        window = std::make_unique<frmMainKtrsvc>();
        if (query) window->query_service = std::move(query);
        window->Show();
    }
    // One TCP request as the console sends it; the reply ("" when none came).
    std::string ask(const std::string& request, int wait_ms = 2000) {
        testing::TcpPeer peer;
        std::string reply = peer.connect(port) && peer.send(request) ? "" : "?";
        testing::pump_until([&] { return !(reply += peer.receive(0)).empty(); }, wait_ms);
        peer.close();
        testing::pump_until([&] { return listening(); });
        return reply;
    }
    bool listening() {
        platform::Socket* s = window->pool().tcpServer()(window->pool().listener_index());
        return s && s->State() == platform::kStateListening;
    }
    const WindowModel& model() const { return window->model(); }
    bool logged_event(const std::string& t) const { return dir_.read("evntfile.txt").find(t) != std::string::npos; }

    uint16_t port = testing::free_port();
    std::unique_ptr<frmMainKtrsvc> window;
};

TEST_F(MainWindow, ALoadedWindowListensShowsEachExchangeAndRecordsASetWithTheClockBefore) {
    show();
    EXPECT_EQ(model().status + " | " + model().service_status, "Ready | No service manager");
    EXPECT_EQ(ask("H+"), "OK-H");
    EXPECT_NE(model().lblNISTLog.find(" Request from 127.0.0.1\r\n\r\nCheck Heartbeat\r\n\r\nResponse: OK"),
              std::string::npos);
    EXPECT_EQ(ask("S+ 26-12-05 05:17:03 500"), "OK-S 26-12-05 05:07:03.045");
    EXPECT_EQ(window->sync_record().SyncServer(), "127.0.0.1");
    EXPECT_EQ(config::options().LastSyncTime(), window->sync_record().SyncLocalTime());
    EXPECT_TRUE(logged_event("Time difference of 600 seconds exceeds limit of 30 seconds."));
    EXPECT_EQ(ask("F+ 26-12-05 05:17:03 600"), "OK-F 26-12-05 05:17:03");
    EXPECT_EQ(clock_.utc_now().millisecond, 600) << "forced below the minimum";
    EXPECT_EQ(ask("S+ 26-12-05 05:17:03 700"), "OK-S 26-12-05 05:17:03.6");
    EXPECT_EQ(clock_.utc_now().millisecond, 600) << "an earlier force does not force this run";
}

// Over UDP the label is put together from a date text made once a second: the text the local clock gives,
// following the clock from second to second and the conventions when they change.
TEST_F(MainWindow, TheLabelOfEachDatagramShowsTheLocalClocksSecond) {
    config::options().ClientFormat(config::kClientSntp);
    show();
    std::optional<testing::ScopedLocale> conventions;
    const struct Step { int advance_ms; bool british; const char* date; } steps[] = {
        {900, false, "12/5/2026 5:07:03 AM"},  // .945: the same second
        {100, false, "12/5/2026 5:07:04 AM"}, {0, true, "05/12/2026 05:07:04"}, {-2000, true, "05/12/2026 05:07:02"}};
    for (const Step& step : steps) {
        clock_.advance_ms(step.advance_ms);
        if (step.british) conventions.emplace(platform::british_locale());
        testing::UdpPeer console;
        std::vector<uint8_t> request(48, 0), reply;
        request[0] = 0x1B;
        ASSERT_TRUE(console.send_to(port, request));
        ASSERT_TRUE(testing::pump_until([&] { return console.receive(reply, 0); }));
        EXPECT_EQ(model().lblNISTLog,
                  step.date + std::string(" Request from 127.0.0.1\r\n\r\nCheck client time SNTP\r\n\r\nResponse: OK"));
    }
}

// The note and the polling beside a running service are the service run's test.
TEST_F(MainWindow, AServiceFoundRunningIsNotListenedBesideUntilItStops) {
    show([] { return ServiceQuery{"Running", kColourGreen}; });
    EXPECT_FALSE(listening());
    window->query_service = [] { return ServiceQuery{"Stopped", kColourLightRed}; };
    window->Form_Activate();
    EXPECT_EQ(model().status, "Ready") << "the note goes with the service";
    EXPECT_TRUE(listening());
}

TEST_F(MainWindow, AListenerThatCannotStartSaysWhyOnceAndTriesAgainEveryMinute) {
    record_nt_events();
    auto other = std::make_unique<testing::PortHolder>(port, true);
    show();
    const std::string trouble = "Not listening on TCP port " + std::to_string(port) + ": Address in use";
    EXPECT_TRUE(model().status.starts_with(trouble + "; trying again every minute.\r\nAnother program"));
    const auto tries_after = [&](int32_t ms) {
        clock_.advance_ms(ms);
        platform::pump_events(0);
        size_t n = 0;
        for (size_t at = 0; (at = debug_text().find("Error init server", at)) != std::string::npos; ++at) ++n;
        return n;
    };
    EXPECT_EQ(tries_after(59000), 1u);
    EXPECT_EQ(tries_after(1000), 2u);
    EXPECT_EQ(nt_events_.size(), 1u) << "once per cause";
    other.reset();
    EXPECT_EQ(tries_after(60000), 2u);
    EXPECT_TRUE(listening());
    EXPECT_EQ(model().status, "Ready");
}

TEST_F(MainWindow, TheSyncWarningCountsFromTheLastSyncWithItsOwnThreshold) {
    for (const auto& [minutes, text] :
         {std::pair{59, "59 minutes"}, {90, "1.5 hours"}, {1439, "24.0 hours"}, {2880, "2.0 days"}})
        EXPECT_EQ(sync_warning_text(minutes), text);
    config::COptions& o = config::options();
    o.SyncWarning(true), o.SyncWarningInterval(7200), o.msecTimeOffset(0);  // its own threshold, not the offset
    o.LastSyncTime(clock_.utc() - 1.0 / 24);
    show();
    EXPECT_EQ(model().status, "Ready") << "one hour is within two";
    o.LastSyncTime(clock_.utc() - 3.0 / 24);
    show();
    EXPECT_TRUE(logged_event("Unable to check clock for the last 3.0 hours"));
    window->sync_warning(200);
    EXPECT_EQ(model().status, "Warning: Unable to check clock\r\nfor the last 3.3 hours");
}

TEST_F(MainWindow, ChangedOptionsAreReloadedOnceAndSavedAndAnAutomaticallyStartedWindowAsksBeforeItGoes) {
    show();
    EXPECT_TRUE(window->CheckSettings() && !window->CheckSettings()) << "no stored flag reads as changed, once";
    window->MainRouter();
    EXPECT_TRUE(window->Unload() && window->terminate() && time_obj().InterruptFlag());

    config::options().SystemStartup(true);
    show();
    std::vector<std::string> asked;
    window->ask_yes_no = [&](const std::string& q) { asked.push_back(q); return false; };
    EXPECT_FALSE(window->Unload());
    EXPECT_TRUE(model().minimized);
    config::options().TCPPort(4321);
    config::options().Changed(true);
    EXPECT_TRUE(window->Unload()) << "a minimised window goes without asking";
    EXPECT_EQ(asked, std::vector<std::string>{"Are you sure you want to exit the Service Module?"});
    EXPECT_EQ(platform::get_setting(config::program().title, "Options", "TCPPort"), "4321") << "a change made before the tray is kept";

    // When the session ends nobody is left to answer: the window goes without asking.
    show();
    window->ask_yes_no = [&](const std::string& q) { asked.push_back(q); return false; };
    window->EndSession();
    EXPECT_TRUE(window->unloaded());
    EXPECT_EQ(asked.size(), 1u);
}

using AutoSetting = testing::ModuleStateTest;

// Only an accuracy above zero is stored (rounded halves to even); anything else keeps the previous record.
TEST_F(AutoSetting, OnlyAnAccuracyAboveZeroIsStored) {
    for (const auto& [accuracy, stored] : {std::pair{2.5f, 2}, {3.5f, 4}, {0.0f, 60}, {-2.7f, 60}, {NAN, 60}}) {
        config::options().AutoPrevAccuracy(60), config::options().AutoPrevSyncTime(1.0);
        CAutoSetting setting;
        setting.count_attempt();
        records::CSync sync;
        sync.SyncLocalTime(kMorning), sync.SyncAccuracy(accuracy);
        EXPECT_EQ(setting.Save_Auto_Settings(sync), stored != 60) << accuracy;
        EXPECT_EQ(config::options().AutoPrevAccuracy(), stored) << accuracy;
        EXPECT_DOUBLE_EQ(config::options().AutoPrevSyncTime(), stored != 60 ? kMorning : 1.0) << accuracy;
        EXPECT_EQ(setting.attempts(), stored != 60 ? 0 : 1) << accuracy;
    }
}

} // namespace
} // namespace ktr::app
