// The service run in process on the fake clock: the loop's slices and its end inside a wait, and a desktop
// instance beside a running service, polled every 15 s through the stand-in systemd.
#include <gtest/gtest.h>

#include "app/frm_main_ktrsvc.h"
#include "app/startup.h"
#include "app/time_obj.h"
#include "config/option_store.h"
#include "config/program.h"
#include "fakes/fake_systemd_bus.h"
#include "fakes/loopback_peer.h"
#include "platform/settings_store.h"
#include "records/records_fixture.h"

namespace ktr::app {
namespace {

class ServiceRun : public ktr::testing::RecordsTest {
protected:
    void SetUp() override {
        RecordsTest::SetUp();
        dir_.write("debug.txt", "");
        config::set_option_defaults(config::options());
        config::options().TCPPort(static_cast<int16_t>(port));
        set_registry_location();
        window = std::make_unique<frmMainKtrsvc>();
    }
    void TearDown() override {
        window.reset();
        time_obj().InterruptFlag(false);
        RecordsTest::TearDown();
    }
    bool listening() {
        platform::Socket* s = window->pool().tcpServer()(window->pool().listener_index());
        return s && s->State() == platform::kStateListening;
    }
    size_t count(const std::string& file, const std::string& fragment) const {
        const std::string t = dir_.read(file);
        size_t n = 0;
        for (size_t at = t.find(fragment); at != std::string::npos; at = t.find(fragment, at + 1)) ++n;
        return n;
    }
    // A timer of the test's own at a time of the fake clock.
    void at_ms(int32_t ms, std::function<void()> action) {
        auto& t = script.emplace_back(std::make_unique<platform::Timer>());
        t->Interval(ms);
        t->on_timer([&timer = *t, action = std::move(action)] {
            timer.Enabled(false);
            action();
        });
        t->Enabled(true);
    }
    std::string setting(const std::string& section, const std::string& name) {
        return platform::get_setting(config::program().title, section, name);
    }

    uint16_t port = ktr::testing::free_port();
    std::unique_ptr<frmMainKtrsvc> window;
    std::vector<std::unique_ptr<platform::Timer>> script;
};

TEST_F(ServiceRun, TheLoopChecksTheSettingsBetweenWaitsAndAStopEndsItInsideAWait) {
    const int32_t start = clock_.tick_count();
    window->Form_Load();
    ASSERT_TRUE(window->ntsrv_Start());
    EXPECT_EQ(setting("Options", "Changed"), "False") << "no value at the first check: reloaded";
    at_ms(30000, [&] { platform::save_setting(config::program().title, "Options", "Changed", "True"); });
    at_ms(150000, [&] { window->ntsrv_Stop(); });
    {
        ktr::testing::ScopedFakePauses pauses(clock_);
        while (!window->unloaded()) platform::pump_events(1000);
    }
    const int32_t waited = clock_.tick_count() - start;
    EXPECT_GE(waited, 150000);
    EXPECT_LT(waited, 151000) << "the stop ends the wait at once";
    EXPECT_EQ(count("DebugFileSvc.txt", "Options changed, getting new options"), 2u) << "at the start and after the first wait";
    EXPECT_EQ(count("DebugFileSvc.txt", "--------------MainRouter (Svc)--------------->  "), 3u);
    EXPECT_EQ(count("DebugFileSvc.txt", "Got StopService Signal---Stopping Service Module"), 1u);
    EXPECT_EQ(count("DebugFileSvc.txt", "Got Termination Message"), 0u) << "the loop does not resume after the stop";
    EXPECT_EQ(setting("Options", "Changed"), "False");
    EXPECT_TRUE(window->terminate());
}

TEST_F(ServiceRun, ADesktopInstanceBesideTheRunningServicePollsItsStatusEvery15Seconds) {
    ktr::testing::FakeSystemdBus bus;
    if (!bus.ready()) GTEST_SKIP() << bus.error();
    ktr::testing::SignalRecorder service;  // the service's process: the test answers for it
    const auto unit = [&](int pid) {
        bus.set_unit("ZKEnterprise.service", {{"LoadState", "loaded"}, {"ActiveState", "active"},
                                              {"MainPID", std::to_string(pid)}, {"StatusText", "Ready"}});
    };
    unit(service.pid());
    connect_service_manager(*window);
    window->Show();
    EXPECT_TRUE(window->service_running_elsewhere());
    EXPECT_FALSE(listening());
    EXPECT_EQ(window->model().status,
              "Note: the background service (ZKEnterprise) is now\r\nrunning and responding to requests from Enterprise.");
    EXPECT_EQ(window->model().service_status, "Running");

    // The service's answer to code 140: its receipt and status through the settings store.
    platform::Timer answer;
    answer.Interval(5);
    answer.on_timer([&] {
        const auto code = service.next(50);
        if (!code) return;
        const std::string& app = config::program().title;
        platform::save_setting(app, "Settings", "setstattext", "Set client time");
        platform::save_setting(app, "Settings", "setstatcolor", "0");
        platform::save_setting(app, "Settings", "OK", std::to_string(*code) + "-12/5/2026 5:07:03 AM");
    });
    answer.Enabled(true);
    ktr::testing::ScopedFakePauses pauses(clock_);
    clock_.advance_ms(14990);
    platform::pump_events(0);
    EXPECT_TRUE(window->model().status.starts_with("Note:")) << "no poll before 15 s";
    clock_.advance_ms(10);
    platform::pump_events(0);
    EXPECT_EQ(window->model().status, "Set client time");
    EXPECT_EQ(window->model().service_status_colour, kColourGreen);

    unit(0);  // the service's process is gone: the code cannot be sent
    clock_.advance_ms(15000);
    platform::pump_events(0);
    EXPECT_EQ(window->model().service_status_colour, kColourLightYellow);
    EXPECT_EQ(window->model().status, "Set client time");
}

} // namespace
} // namespace ktr::app
