// Start-up: the option file and the command words; then the service run in process on the fake clock: the
// loop's slices and its end inside a wait, and a desktop instance beside a running service, polled every
// 15 s through the stand-in systemd.
#include <gtest/gtest.h>

#include <ranges>

#include "app/frm_main_ktrsvc.h"
#include "app/startup.h"
#include "app/time_obj.h"
#include "config/option_store.h"
#include "config/options.h"
#include "fakes/fake_systemd_bus.h"
#include "fakes/loopback_peer.h"
#include "fakes/module_state.h"
#include "platform/settings_store.h"

namespace ktr::app {
namespace {

class ServiceRun : public ktr::testing::ModuleStateTest {
protected:
    void SetUp() override {
        dir_.write("debug.txt", "");
        config::set_option_defaults(config::options());
        config::options().TCPPort(static_cast<int16_t>(ktr::testing::free_port()));
        set_registry_location();
        window = std::make_unique<frmMainKtrsvc>();
    }
    void TearDown() override { window.reset(), time_obj().InterruptFlag(false); }
    std::unique_ptr<frmMainKtrsvc> window;
};

// A stop inside a wait is the end-to-end test's; here the stored "Changed" flag checked between the waits.
TEST_F(ServiceRun, TheLoopReloadsChangedOptionsBetweenWaits) {
    const auto changed = [] { return platform::get_setting(config::program().title, "Options", "Changed"); };
    window->Form_Load();
    ASSERT_TRUE(window->ntsrv_Start());
    EXPECT_EQ(changed(), "False") << "no value at the first check: reloaded";
    platform::Timer script;  // the test's own moves, every 30 s: "Changed" at 30 s, the stop at 150 s
    int ticks = 0;
    script.Interval(30000);
    script.on_timer([&] {
        if (++ticks == 1) platform::save_setting(config::program().title, "Options", "Changed", "True");
        if (ticks == 5) window->ntsrv_Stop();
    });
    script.Enabled(true);
    ktr::testing::ScopedFakePauses pauses(clock_);
    while (!window->unloaded()) platform::pump_events(1000);
    EXPECT_EQ(changed(), "False");
    // Reloaded at the start and after the first wait.
    const std::string trace = dir_.read("DebugFileSvc.txt"), line = "Options changed, getting new options";
    EXPECT_EQ(std::ranges::distance(std::views::split(trace, std::string_view(line))), 3);
}

TEST_F(ServiceRun, ADesktopInstanceBesideTheRunningServicePollsItsStatusEvery15Seconds) {
    ktr::testing::FakeSystemdBus bus;
    if (!bus.ready()) GTEST_SKIP() << bus.error();
    ktr::testing::SignalRecorder service;  // the service's process: the test answers for it
    bus.set_unit("ZKEnterprise.service", {{"ActiveState", "active"}, {"MainPID", std::to_string(service.pid())}});
    connect_service_manager(*window);
    window->Show();
    EXPECT_TRUE(window->service_running_elsewhere() && window->model().service_status == "Running");
    platform::Timer answer;  // the service's answer to code 140: its receipt and status through the settings store
    answer.Interval(5);
    answer.on_timer([&, app = config::program().title] {
        if (const auto code = service.next(50)) {
            platform::save_setting(app, "Settings", "setstattext", "Set client time");
            platform::save_setting(app, "Settings", "setstatcolor", "0");
            platform::save_setting(app, "Settings", "OK", std::to_string(*code) + "-12/5/2026 5:07:03 AM");
        }
    });
    answer.Enabled(true);
    ktr::testing::ScopedFakePauses pauses(clock_);
    const auto after_ms = [&](int32_t ms) { clock_.advance_ms(ms), platform::pump_events(0); };
    after_ms(14990);
    EXPECT_TRUE(window->model().status.starts_with("Note: the background service")) << "no poll before 15 s";
    after_ms(10);
    EXPECT_EQ(window->model().status, "Set client time");
    EXPECT_EQ(window->model().service_status_colour, kColourGreen);
    bus.set_unit("ZKEnterprise.service", {{"ActiveState", "active"}, {"MainPID", "0"}});  // no process to send to
    after_ms(15000);
    EXPECT_EQ(window->model().service_status_colour, kColourLightYellow);
}

using Words = std::vector<std::string>;

Words fields(std::string_view text) {
    DelimitedReader reader(text);
    Words out;
    for (std::string f; !reader.at_end() && reader.next_field(f);) out.push_back(f);
    return out;
}

TEST(DelimitedReader, QuotesKeepCommasAndLineEndsEndFields) {
    // An unquoted value ends at the first comma; the rest of the line is the next name.
    EXPECT_EQ(fields("  A , 1 ,B,2"), (Words{"A", "1", "B", "2"}));
    EXPECT_EQ(fields("\"x\"junk,y"), (Words{"x", "y"})) << "text after a closing quote is dropped";
    EXPECT_EQ(fields("N,\"open\nstill open"), (Words{"N", "open\nstill open"})) << "an unbalanced quote runs on";
    EXPECT_EQ(fields("A,1\n\nB,2\n\n\n"), (Words{"A", "1", "", "B", "2"})) << "blank lines at the end give none";
    EXPECT_EQ(fields(std::string("A,\0\xff\x01", 5)), (Words{"A", std::string("\0\xff\x01", 3)}));
    EXPECT_TRUE(fields("").empty());
}

using Startup = testing::ModuleStateTest;

TEST_F(Startup, BlanksAndTabsSeparateWordsSwitchesAreExactAndLaterWordsWin) {
    EXPECT_EQ(get_command_args("  debug\t once  "), (Words{"", "debug", "once"}));
    EXPECT_EQ(get_command_args("1 2 3 4 5 6 7 8 9 10 11 12").size(), 11u);  // ten words by default
    diag::set_debug_file_mode(false), diag::debug_state() = {};
    apply_command_words(get_command_args("a b c d debug", 4));
    EXPECT_FALSE(diag::debug_state().on) << "the fifth word is never seen";
    apply_command_words(get_command_args("Debug DEBUG screen", 4));
    EXPECT_TRUE(diag::debug_state().on);
    EXPECT_FALSE(diag::debug_file_open()) << "only the exact word opens the file";

    const auto flags = apply_command_words(get_command_args("debug screen once removereg", 4));
    EXPECT_TRUE(flags.once && flags.remove_registration);
    EXPECT_FALSE(diag::debug_state().to_file);
    EXPECT_TRUE(diag::debug_file_open());  // "debug" opened it before "screen" turned file mode off
    EXPECT_EQ(diag::debug_state().file_path, dir_.file("DebugFile.txt"));
}

TEST_F(Startup, OptionFileAppliesPairsSurvivesBadLinesAndMissingFiles) {
    // Names match exactly; X10ComPort is no stored option; unreadable values are kept. A blank line is an empty
    // name whose value is the next line; then a name with no value at the end.
    dir_.write("ZKEntinit.ini", "TCPPort,2000\ntcpport,5\nNISTServer,\"t1, t2\"\nUnknown,3\nTimedInterval,xyz\n"
                                "X10ComPort,4\nLoggingOn,maybe\nSettingMode,True\nLocalHost," +
                                    std::string(100000, 'h') + "\n\nX\nDomainName");
    config::COptions o;
    config::set_option_defaults(o);
    ReadInFile(dir_.file("ZKEntinit.ini"), o);
    EXPECT_TRUE(o.TCPPort() == 2000 && o.NISTServer() == "t1, t2" && o.LocalHost().size() == 100000u);
    EXPECT_TRUE(o.TimedInterval() == 3600 && o.X10ComPort() == 0 && o.LoggingOn() && o.SettingMode() == -1);
    EXPECT_TRUE(traced("Err:62, Desc:Input past end of file")) << "the name without a value";

    const size_t before = debug_text().size();
    ReadInFile("", o);
    ReadInFile(dir_.file("absent.ini"), o);
    EXPECT_NE(debug_text().find("ReadInSetting error", before), std::string::npos);
}

} // namespace
} // namespace ktr::app
