// The desktop instance's real windows, driven as a user drives them: the tray icon and its mouse
// messages, the menus, the port entry and the exit question, and pictures of the main window and of the
// service control window saved for a person to look at. Windows only; they need a display.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <thread>

#include "app/desktop_host.h"
#include "app/frm_main_ktrsvc.h"
#include "app/time_obj.h"
#include "config/option_store.h"
#include "diag/error_report.h"
#include "fakes/desktop_driver.h"
#include "fakes/pump_until.h"
#include "platform/client_socket.h"
#include "platform/event_log.h"
#include "platform/event_pump.h"

namespace ktr::app {
namespace {

using testing::DialogAnswer;
using testing::DialogAnswerer;
using Strings = std::vector<std::string>;

// Where the pictures go: KTRSVC_SCREENSHOTS, or screenshots/ in the build folder.
std::string screenshot(const std::string& name) {
    const char* folder = std::getenv("KTRSVC_SCREENSHOTS");
    const std::filesystem::path dir = folder && *folder ? folder : KTRSVC_SCREENSHOT_DIR;
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}

class DesktopWindows : public ::testing::Test {
protected:
    static constexpr int16_t kPort = 23811;

    void SetUp() override {
        if (const std::string why = testing::no_display_reason(); !why.empty()) GTEST_SKIP() << why;
        saved_options_ = config::options();
        config::set_option_defaults(config::options());
        config::options().TCPPort(kPort);
        diag::report_settings().nt_event_log = [] { return true; };
        platform::set_event_recorder([this](std::string_view, int, int32_t, std::string_view text) {
            reports.emplace_back(text);
            return true;
        });
        window = std::make_unique<frmMainKtrsvc>();
        connect_service_manager(*window);
        host = std::make_unique<DesktopHost>(*window);
        ASSERT_TRUE(host->ready()) << platform::pending_error().description;
        window->Show();
        ASSERT_TRUE(settle([&] { return testing::window_visible(main()); }));
    }
    void TearDown() override {
        host.reset();
        window.reset();
        platform::set_event_recorder({});
        diag::report_settings().nt_event_log = nullptr;
        time_obj().InterruptFlag(false);
        if (saved_options_) config::options() = *saved_options_;
    }
    static bool settle(const std::function<bool()>& done) { return testing::pump_until(done, 5000); }
    intptr_t main() const { return host->main_view()->native_handle(); }
    intptr_t tray() const { return host->tray_window()->native_handle(); }
    bool shown() const { return testing::window_visible(main()); }
    bool reported(const std::string& text) const {
        for (const std::string& r : reports)
            if (r.find(text) != std::string::npos) return true;
        return false;
    }

    std::unique_ptr<frmMainKtrsvc> window;
    std::unique_ptr<DesktopHost> host;
    Strings reports;
    std::optional<config::COptions> saved_options_;
};

TEST_F(DesktopWindows, TheMainWindowShowsItsLabelsAndMenus) {
    // A heartbeat from the console, so that the picture shows an exchange in the log label.
    auto reply = std::async(std::launch::async, [] { return platform::tcp_request("127.0.0.1", kPort, "H+", 3000); });
    settle([&] { return reply.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    EXPECT_EQ(reply.get().data, "OK-H");
    EXPECT_NE(host->main_view()->text(kLogLabel).find("Check Heartbeat"), std::string::npos);
    EXPECT_EQ(host->main_view()->text(kStatusLabel), "Ready");
    EXPECT_EQ(host->main_view()->text(kExitButton), "Exit");
    EXPECT_EQ(host->main_view()->text(kServiceStatusLabel), window->model().service_status);
    struct Row { int id; const char* caption; };
    for (const Row& r : {Row{kMenuFileService, "&Register Service Module"}, {kMenuFileExit, "&Exit"},
                         {kMenuProtocol + int{config::kServerNist}, "&NIST"}, {kMenuProtocol + int{config::kServerSntp}, "&SNTP"},
                         {kMenuOptionsPort, "Port &Number"}, {kMenuOptionsSvc, "&Service.."},
                         {kMenuOptionsStartup, "Startup &Automatically"}, {kMenuHelpTopics, "Help &Topics"}})
        EXPECT_EQ(testing::menu_caption(main(), r.id), r.caption);
    EXPECT_TRUE(testing::menu_checked(main(), kMenuProtocol + int{config::kServerNist}));
    EXPECT_TRUE(testing::save_window_png(main(), screenshot("main_window.png")));
}

TEST_F(DesktopWindows, TheTrayIconsMessagesShowHideAndEndTheWindow) {
    EXPECT_TRUE(window->tray().check_if_loaded()) << "the shell took the icon";
    EXPECT_FALSE(window->tray().add_icon(0, "Tovani Service")) << "the shell refuses a second icon of the number";
    EXPECT_TRUE(reported("Add icon error"));

    testing::post_message(tray(), kMouseMove, kLeftButtonDown);
    EXPECT_TRUE(settle([&] { return !shown(); }));
    testing::post_message(tray(), kMouseMove, kLeftDoubleClick);
    EXPECT_TRUE(settle([&] { return shown(); }));
    testing::post_minimize(main());
    EXPECT_TRUE(settle([&] { return !shown(); })) << "minimising hides";
    testing::post_message(tray(), kMouseMove, kLeftButtonDown);
    EXPECT_TRUE(settle([&] { return shown() && !window->model().minimized; }));
    testing::minimize_from_outside(main());
    EXPECT_TRUE(settle([&] { return !shown(); })) << "minimised without the title bar, it hides too";
    testing::post_message(tray(), kMouseMove, kLeftButtonDown);
    EXPECT_TRUE(settle([&] { return shown() && !window->model().minimized; }));
    testing::post_message(tray(), kMouseMove, kRightButtonUp);
    testing::pump_until([] { return false; }, 300);
    EXPECT_TRUE(shown()) << "a right click does nothing";

    // The exit question of a module that starts with the system: No keeps it (minimised), Yes ends it.
    // While the question waits for the user, the console is still answered.
    config::options().SystemStartup(true);
    {
        DialogAnswerer no({DialogAnswer{kMessageTitle, "", testing::kAnswerNo, 2000}});
        testing::post_message(tray(), kMouseMove, kRightDoubleClick);
        auto reply = std::async(std::launch::async, [] { return platform::tcp_request("127.0.0.1", kPort, "H+", 1500); });
        EXPECT_TRUE(settle([&] { return no.done(); }));
        EXPECT_EQ(no.texts(), Strings{"Zentrik: Are you sure you want to exit the Service Module?"});
        EXPECT_EQ(reply.get().data, "OK-H");
    }
    EXPECT_TRUE(settle([&] { return !shown(); }));
    EXPECT_FALSE(window->unloaded());
    testing::post_message(tray(), kMouseMove, kLeftButtonDown);
    EXPECT_TRUE(settle([&] { return shown(); }));
    DialogAnswerer yes({DialogAnswer{kMessageTitle, "", testing::kAnswerYes}});
    testing::post_message(tray(), kMouseMove, kRightDoubleClick);
    EXPECT_TRUE(settle([&] { return window->unloaded(); }));
    EXPECT_FALSE(window->tray().check_if_loaded());
    EXPECT_FALSE(shown());
}

TEST_F(DesktopWindows, TheMenusChangeTheOptionsAndThePortEntryRefusesBadEntries) {
    testing::post_command(main(), kMenuProtocol + int{config::kServerSntp});
    EXPECT_TRUE(settle([&] { return testing::menu_checked(main(), kMenuProtocol + int{config::kServerSntp}); }));
    EXPECT_EQ(config::options().ServerFormat(), config::kServerSntp);
    EXPECT_FALSE(testing::menu_checked(main(), kMenuProtocol + int{config::kServerNist}));
    testing::post_command(main(), kMenuOptionsStartup);
    EXPECT_TRUE(settle([&] { return testing::menu_checked(main(), kMenuOptionsStartup); }));
    EXPECT_TRUE(config::options().SystemStartup());

    // One entry at a time: a box's own message loop would take the next menu command too.
    const auto enter = [&](const std::string& typed, bool refused) {
        std::vector<DialogAnswer> boxes{{kPortEntryTitle, typed}};
        if (refused) boxes.push_back({kInvalidEntryTitle, ""});
        DialogAnswerer answers(boxes);
        testing::post_command(main(), kMenuOptionsPort);
        EXPECT_TRUE(settle([&] { return answers.done(); })) << typed;
        const Strings texts = answers.texts();
        return texts.size() == 2 ? texts[1] : std::string();
    };
    EXPECT_EQ(enter("12345", true), "Invalid Entry: Entry must be a number 1-4 digits long.\r\nUse port 1001 as a default.");
    EXPECT_EQ(enter("-7", true), "Invalid Entry: Entry must be a number 0-9999.\r\nUse port 1001 as a default.");
    const int16_t before = config::options().TCPPort();
    EXPECT_EQ(enter("1234", false), "");
    EXPECT_NE(before, 1234);

    // No help file beside the test: the shell's failure is told, and the window goes on.
    {
        DialogAnswerer help({DialogAnswer{kMessageTitle, ""}});
        testing::post_command(main(), kMenuHelpTopics);
        EXPECT_TRUE(settle([&] { return help.done(); }));
        ASSERT_EQ(help.texts().size(), 1u);
        EXPECT_TRUE(help.texts()[0].starts_with("Zentrik: Could not open the help file ")) << help.texts()[0];
    }
    EXPECT_TRUE(shown());
    EXPECT_TRUE(settle([&] { return config::options().TCPPort() == 1234; }));
}

TEST_F(DesktopWindows, ARequestToEndPostedWhileABoxIsOpenIsNotLost) {
    int ends = 0;
    platform::on_stop_request(platform::StopRequest::terminate, [&](platform::StopRequest) { ++ends; });
    {
        DialogAnswerer answers({DialogAnswer{kPortEntryTitle, "", testing::kAnswerCancel, 1500}});
        auto poster = std::async(std::launch::async, [thread = testing::current_thread()] {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            testing::post_close_to_thread(thread);
        });
        testing::post_command(main(), kMenuOptionsPort);
        EXPECT_TRUE(settle([&] { return answers.done(); }));
    }
    EXPECT_TRUE(settle([&] { return ends == 1; }));
    platform::on_stop_request(platform::StopRequest::terminate, nullptr);
}

TEST_F(DesktopWindows, TheEndOfTheSessionEndsTheModuleWithoutAsking) {
    config::options().SystemStartup(true);
    testing::post_session_end(main());
    EXPECT_TRUE(settle([&] { return window->unloaded(); }));
    EXPECT_FALSE(window->tray().check_if_loaded());
}

TEST_F(DesktopWindows, TheServiceControlWindowShowsAMissingServiceGrey) {
    testing::post_command(main(), kMenuOptionsSvc);
    ASSERT_TRUE(settle([&] { return host->service_view() && testing::window_visible(host->service_view()->native_handle()); }));
    // This machine has no ZKEnterprise service registered.
    EXPECT_EQ(host->service_window()->model().status, "Could not open Service");
    EXPECT_EQ(host->service_window()->model().status_colour, kColourGrey);
    EXPECT_EQ(host->service_view()->text(kSvcStatusLabel), "Could not open Service");
    EXPECT_EQ(host->service_view()->text(kSvcPause), "Pause");
    testing::pump_until([] { return false; }, 200);
    EXPECT_TRUE(testing::save_window_png(host->service_view()->native_handle(), screenshot("service_window.png")));
    testing::post_close(host->service_view()->native_handle());
    EXPECT_TRUE(settle([&] { return !testing::window_visible(host->service_view()->native_handle()); }));
    EXPECT_TRUE(shown()) << "the main window stays";
}

// The program carries the texts of its event log records: the viewer shows each record's own text.
TEST(EventMessages, EveryIdTheModuleReportsWithShowsTheRecordsText) {
    for (const uint32_t id : {0u, 1u, 7u})
        EXPECT_EQ(testing::event_viewer_text(id, "Add icon error"), "Add icon error\r\n") << id;
}

} // namespace
} // namespace ktr::app
#endif
