// The service manager operations against a stand-in systemd on a private bus: the real bus calls, the
// real signals and the real unit folder, only the manager is a stand-in.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/frm_main_ktrsvc.h"
#include "app/service_manager_ops.h"
#include "config/program.h"
#include "fakes/fake_systemd_bus.h"
#include "fakes/scoped_env.h"
#include "fakes/temp_dir.h"
#include "fakes/trace_capture.h"
#include "platform/pending_error.h"
#include "platform/registry_hive.h"
#include "platform/settings_store.h"

namespace ktr::app {
namespace {

using testing::FakeSystemdBus;
using testing::SignalRecorder;
using Strings = std::vector<std::string>;

const std::string kUnit = "ZKEnterprise.service";
std::string read_file(const std::string& path) {
    std::ostringstream out;
    out << std::ifstream(path).rdbuf();
    return out.str();
}

const std::string kSettingsKey = ".DEFAULT\\Software\\VB and VBA Program Settings\\Ktrsvc\\Settings";

// A fresh hive, tracing to a file, and the stand-in manager.
class ServiceOps : public ::testing::Test {
protected:
    testing::TempDir home;
    testing::ScopedEnv registry{"KTRSVC_REGISTRY", home.file("registry.db").c_str()};
    FakeSystemdBus bus;
    testing::TraceCapture trace;

    void SetUp() override {
        if (!bus.ready()) GTEST_SKIP() << bus.error();
        platform::close_registry_hive();
        config::program().registry_root = config::kHkeyUsers;
    }
    void TearDown() override {
        platform::close_registry_hive();
        platform::clear_pending_error();
    }
    void unit(const std::string& active, const std::string& status = "", int pid = 0) {
        bus.set_unit(kUnit, {{"ActiveState", active}, {"StatusText", status}, {"MainPID", std::to_string(pid)}});
    }
};

TEST_F(ServiceOps, StatusFollowsTheUnitsState) {
    struct Row {
        std::string active, status_text, text;
        int16_t status_class;
        uint32_t colour;
    };
    const Row rows[] = {
        {"active", "", "Running", 0, kColourGreen},
        {"active", "Paused by the manager", "Paused", 1, kColourLightYellow},
        {"active", "Listening; Paused is not first", "Running", 0, kColourGreen},
        {"reloading", "", "Running", 0, kColourGreen},
        {"activating", "", "Start Pending", 0, kColourGreen},
        {"deactivating", "", "Stop Pending", 2, kColourLightRed},
        {"inactive", "", "Stopped", 2, kColourLightRed},
        {"failed", "", "Stopped", 2, kColourLightRed},
        {"maintenance", "", "", 42, kColourGrey},  // a state the table does not name leaves the class
    };
    for (const Row& r : rows) {
        unit(r.active, r.status_text);
        int16_t status_class = 42;
        EXPECT_EQ(ServiceStatus("", "ZKEnterprise", status_class), r.text) << r.active << " / " << r.status_text;
        EXPECT_EQ(status_class, r.status_class) << r.active;
        EXPECT_EQ(ServiceStatusColour("ZKEnterprise"), r.colour) << r.active;
    }
}

TEST_F(ServiceOps, AMissingServiceCannotBeOpened) {
    int16_t status_class = 0;
    EXPECT_EQ(ServiceStatus("", "ZKEnterprise", status_class), "Could not open Service");
    EXPECT_EQ(status_class, kClassError);
    EXPECT_EQ(ServiceStatusColour("ZKEnterprise"), kColourGrey);
    status_class = 0;
    EXPECT_EQ(ServiceStart("", "ZKEnterprise", status_class), "Could not open Service");
    EXPECT_EQ(status_class, kClassError);
    EXPECT_EQ(ServiceDelete("ZKEnterprise"), "Could not open Service ");
    EXPECT_TRUE(bus.actions().empty());
    EXPECT_TRUE(trace.has("ServiceStart Status: Could not open Service"));
    EXPECT_TRUE(trace.has("ServiceDelete Status: Could not open Service  for ZKEnterprise"));
}

TEST_F(ServiceOps, StartStopAndCodeNineGoToTheManager) {
    unit("inactive");
    int16_t status_class = 3;
    EXPECT_EQ(ServiceStart("", "ZKEnterprise", status_class), "OK");
    EXPECT_EQ(status_class, kClassRunning);
    EXPECT_EQ(bus.prop(kUnit, "ActiveState"), "active");
    EXPECT_EQ(ServiceStop("", "ZKEnterprise", status_class), "OK");
    EXPECT_EQ(status_class, kClassStopped);
    EXPECT_TRUE(ServiceControl(9, "ZKEnterprise"));
    EXPECT_TRUE(ServiceControl(1, "ZKEnterprise"));
    EXPECT_EQ(bus.actions(), (Strings{"StartUnit " + kUnit + " replace", "StopUnit " + kUnit + " replace",
                                      "StartUnit " + kUnit + " replace", "StopUnit " + kUnit + " replace"}));
    EXPECT_TRUE(trace.has("ServiceStart Status: OK"));
    EXPECT_TRUE(trace.has("ServiceStop Status: OK"));
}

TEST_F(ServiceOps, PauseContinueAndUserCodesReachTheMainProcessAsQueuedSignals) {
    SignalRecorder service;
    unit("active", "", service.pid());
    int16_t status_class = 3;
    EXPECT_EQ(ServicePause("", "ZKEnterprise", status_class), "OK");
    EXPECT_EQ(status_class, kClassPaused);
    EXPECT_EQ(service.next(), 2);
    EXPECT_EQ(ServiceContinue("", "ZKEnterprise", status_class), "OK");
    EXPECT_EQ(status_class, kClassRunning);
    EXPECT_EQ(service.next(), 3);
    for (const int code : {128, 140, 144, 255, 2, 3}) {
        EXPECT_TRUE(ServiceControl(code, "ZKEnterprise")) << code;
        EXPECT_EQ(service.next(), code);
    }
    EXPECT_TRUE(ServiceControl(4, "ZKEnterprise"));  // interrogate: a query, no signal
    EXPECT_FALSE(ServiceControl(5, "ZKEnterprise")); // shutdown is the system's own to send
    EXPECT_EQ(service.next(200), std::nullopt);
    EXPECT_TRUE(bus.actions().empty());
    EXPECT_TRUE(trace.has("ServicePause Status: OK"));
    EXPECT_TRUE(trace.has("ServiceContinue Status: OK"));
}

TEST_F(ServiceOps, ACodeThatCannotBeDeliveredIsAFailure) {
    unit("inactive");  // no main process
    int16_t status_class = 7;
    EXPECT_EQ(ServicePause("", "ZKEnterprise", status_class), "Failed to Pause");
    EXPECT_EQ(ServiceContinue("", "ZKEnterprise", status_class), "Failed to Pause");
    EXPECT_EQ(status_class, 7);
    EXPECT_FALSE(Send_Mesg(140, "ZKEnterprise"));
    EXPECT_TRUE(trace.has("Control Service Failed: Error 3"));
    EXPECT_TRUE(trace.has("Failed to successfully send service message #140"));
    EXPECT_TRUE(trace.has("Origination: modStartStopSvc\r\nID: Send_Mesg 195"));
    EXPECT_FALSE(SendWithReceipt(140, kSettingsKey, "ZKEnterprise"));
    std::string ignored;
    EXPECT_FALSE(svc_call_func("HEARTBEAT", "Ktrsvc", kSettingsKey, ignored));
}

TEST_F(ServiceOps, CodesOutsideTheTableAreRefusedWithoutAskingTheManager) {
    for (const int code : {100, 0, 6, 8, 10, 127, 256, -1}) {
        EXPECT_FALSE(ServiceControl(code, "ZKEnterprise")) << code;
        EXPECT_FALSE(Send_Mesg(code, "ZKEnterprise")) << code;
    }
    EXPECT_TRUE(bus.calls().empty());
    EXPECT_FALSE(trace.has("Failed to successfully send"));
    EXPECT_FALSE(SendWithReceipt(0, kSettingsKey, "ZKEnterprise"));
}

TEST_F(ServiceOps, CreateWritesAndEnablesTheUnitDeleteDisablesAndRemovesIt) {
    const std::string file = bus.unit_dir() + "/" + kUnit;
    EXPECT_EQ(ServiceCreate("ZKEnterprise", "/opt/ktr 100%/ktrsvc"), "OK");
    const std::string text = read_file(file);
    for (const char* line : {"Type=notify\n", "ExecStart=\"/opt/ktr 100%%/ktrsvc\"\n", "User=root\n",
                             "WantedBy=multi-user.target\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
    EXPECT_EQ(bus.actions(), (Strings{"Reload", "EnableUnitFiles " + kUnit}));
    int16_t status_class = 3;
    EXPECT_EQ(ServiceStatus("", "ZKEnterprise", status_class), "Stopped");
    EXPECT_TRUE(trace.has("ServiceCreate Status: OK for ZKEnterprise"));

    // A second service of the name, or one for a path that is not absolute, is not made.
    EXPECT_EQ(ServiceCreate("ZKEnterprise", "/usr/bin/ktrsvc"), "Could not create Service at path /usr/bin/ktrsvc");
    EXPECT_EQ(ServiceCreate("Other", "ktrsvc"), "Could not create Service at path ktrsvc");
    EXPECT_FALSE(std::filesystem::exists(bus.unit_dir() + "/Other.service"));

    EXPECT_EQ(ServiceDelete("ZKEnterprise"), "OK");
    EXPECT_FALSE(std::filesystem::exists(file));
    const Strings actions = bus.actions();
    EXPECT_EQ(Strings(actions.end() - 2, actions.end()), (Strings{"DisableUnitFiles " + kUnit, "Reload"}));
    EXPECT_EQ(ServiceDelete("ZKEnterprise"), "Could not open Service ");
    EXPECT_TRUE(trace.has("ServiceDelete Status: OK for ZKEnterprise"));
}

TEST_F(ServiceOps, RegisterInstallsForTheShortPathOrRemoves) {
    home.write("ktrsvc", "");
    EXPECT_EQ(ServiceRegister("ZKEnterprise", "INSTALL", home.file("ktrsvc")), "OK");
    EXPECT_TRUE(trace.has("Registering: ZKEnterprise " + home.file("ktrsvc") + " - CREATE..."));
    // A path without a short form (it does not exist) leaves nothing to create.
    EXPECT_EQ(ServiceRegister("Other", "INSTALL", home.file("missing")), "Could not create Service at path ");
    EXPECT_EQ(ServiceRegister("ZKEnterprise", "REMOVE", ""), "OK");
    EXPECT_TRUE(trace.has("Registering: ZKEnterprise - DELETE..."));
}

TEST_F(ServiceOps, TheReceiptIsReadBackAndAMissingOneEndsTheWait) {
    // The stand-in service writes its receipt as the module's control handler does.
    const std::string hive_file = home.file("registry.db");
    SignalRecorder service([hive_file](int code) {
        auto hive = platform::open_registry_hive(hive_file);
        platform::RegKey key;
        hive->create_key(config::kHkeyUsers, kSettingsKey, key);
        hive->set_value(key, "OK", platform::RegValue::sz(std::to_string(code) + "-12/05/2026 05:37:32"));
    });
    unit("active", "", service.pid());
    platform::save_setting("Ktrsvc", "Settings", "setstattext", "Ready");
    std::string returned;
    EXPECT_TRUE(svc_call_func("STATUS", "Ktrsvc", kSettingsKey, returned));
    EXPECT_EQ(service.next(), 140);
    EXPECT_EQ(returned, "140-12/05/2026 05:37:32");
    EXPECT_TRUE(trace.has("Returned string: 140-12/05/2026 05:37:32"));
    EXPECT_EQ(platform::get_setting("Ktrsvc", "Settings", "setstattext", "unset"), "");

    // A service that does not answer: the code was still sent; the wait gives up after 30 reads.
    SignalRecorder silent;
    unit("active", "", silent.pid());
    returned = "before";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(svc_call_func("HEARTBEAT", "Ktrsvc", kSettingsKey, returned));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(silent.next(), 133);
    EXPECT_EQ(returned, "before");
    EXPECT_GE(waited, std::chrono::milliseconds(550));
    EXPECT_LT(waited, std::chrono::milliseconds(2000));

    EXPECT_FALSE(svc_call_func("REBOOT", "Ktrsvc", kSettingsKey, returned));
    EXPECT_TRUE(trace.has("svc_call_func: command not found REBOOT"));
    EXPECT_EQ(silent.next(100), std::nullopt);

    platform::save_setting("Ktrsvc", "Settings", "setstatcolor", "65280");
    std::string text;
    EXPECT_TRUE(ReadWithRetry(kSettingsKey, config::kHkeyUsers, "setstatcolor", text));
    EXPECT_EQ(text, "65280");
}

// Without systemd (no bus at all, or a bus nobody manages services on) every operation says so.
TEST(ServiceOpsWithoutSystemd, EveryOperationCannotOpenTheManager) {
    testing::TempDir dir;
    for (const bool with_bus : {false, true}) {
        std::optional<FakeSystemdBus> bus;
        std::optional<testing::ScopedEnv> no_bus;
        if (with_bus) {
            bus.emplace(false);
            if (!bus->ready()) GTEST_SKIP() << bus->error();
        } else {
            no_bus.emplace("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + dir.file("no-bus")).c_str());
        }
        int16_t status_class = 0;
        EXPECT_EQ(ServiceStatus("", "ZKEnterprise", status_class), "Could not open Service Manager") << with_bus;
        EXPECT_EQ(status_class, kClassError);
        EXPECT_EQ(ServiceStatusColour("ZKEnterprise"), kColourGrey);
        status_class = 0;
        EXPECT_EQ(ServiceStop("", "ZKEnterprise", status_class), "Could not open Service Manager");
        EXPECT_EQ(status_class, kClassError);
        EXPECT_EQ(ServiceCreate("ZKEnterprise", "/usr/bin/ktrsvc"), "Could not open Service Manager");
        EXPECT_EQ(ServiceDelete("ZKEnterprise"), "Could not open Service Manager");
        EXPECT_FALSE(ServiceControl(9, "ZKEnterprise"));
    }
    platform::clear_pending_error();
}

} // namespace
} // namespace ktr::app
