// The service manager operations against a stand-in systemd on a private bus: the real bus calls, the
// real signals and the real unit folder, only the manager is a stand-in.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "app/frm_main_ktrsvc.h"
#include "app/service_manager_ops.h"
#include "fakes/fake_systemd_bus.h"
#include "fakes/module_state.h"

namespace ktr::app {
namespace {

using testing::FakeSystemdBus;
using Strings = std::vector<std::string>;
using Result = std::pair<std::string, int16_t>;

const std::string kUnit = "ZKEnterprise.service";
const std::string kSettingsKey = ".DEFAULT\\Software\\VB and VBA Program Settings\\Ktrsvc\\Settings";

// The text and the class an operation leaves; the class starts at 42, so that one left alone shows.
Result call(auto operation) {
    int16_t status_class = 42;
    return {operation("", "ZKEnterprise", status_class), status_class};  // the text is read first
}

class ServiceOps : public testing::ModuleStateTest {
protected:
    FakeSystemdBus bus;

    void SetUp() override {
        if (!bus.ready()) GTEST_SKIP() << bus.error();
    }
    void unit(const std::string& active, const std::string& status = "", int pid = 0) {
        bus.set_unit(kUnit, {{"ActiveState", active}, {"StatusText", status}, {"MainPID", std::to_string(pid)}});
    }
};

TEST_F(ServiceOps, StatusFollowsTheUnitsState) {
    struct Row { std::string active, status_text; Result result; uint32_t colour; };
    const Row rows[] = {
        {"", "", {"Could not open Service", kClassError}, kColourGrey},  // no such unit yet
        {"active", "", {"Running", 0}, kColourGreen}, {"reloading", "", {"Running", 0}, kColourGreen},
        {"active", "Paused by the manager", {"Paused", 1}, kColourLightYellow},
        {"active", "Listening; Paused is not first", {"Running", 0}, kColourGreen},
        {"activating", "", {"Start Pending", 0}, kColourGreen},
        {"deactivating", "", {"Stop Pending", 2}, kColourLightRed},
        {"inactive", "", {"Stopped", 2}, kColourLightRed}, {"failed", "", {"Stopped", 2}, kColourLightRed},
        {"maintenance", "", {"", 42}, kColourGrey},  // a state the table does not name leaves the class
    };
    for (const Row& r : rows) {
        if (!r.active.empty()) unit(r.active, r.status_text);
        EXPECT_EQ(call(ServiceStatus), r.result) << r.active << " / " << r.status_text;
        EXPECT_EQ(ServiceStatusColour("ZKEnterprise"), r.colour) << r.active;
    }
}

TEST_F(ServiceOps, StartStopAndCodeNineGoToTheManagerCodesOutsideTheTableAreRefusedUnasked) {
    for (const int code : {100, 0, 6, 8, 10, 127, 256, -1})
        EXPECT_FALSE(ServiceControl(code, "ZKEnterprise") || Send_Mesg(code, "ZKEnterprise")) << code;
    EXPECT_TRUE(bus.calls().empty());
    EXPECT_EQ(call(ServiceStart), (Result{"Could not open Service", kClassError})) << "no such unit yet";
    unit("inactive");  // no main process to signal: a failure, the class left alone
    EXPECT_EQ(call(ServiceContinue), (Result{"Failed to Pause", 42}));
    EXPECT_FALSE(Send_Mesg(140, "ZKEnterprise"));
    EXPECT_EQ(call(ServiceStart), (Result{"OK", kClassRunning}));
    EXPECT_EQ(call(ServiceStop), (Result{"OK", kClassStopped}));
    EXPECT_TRUE(ServiceControl(9, "ZKEnterprise"));
    const std::string start = "StartUnit " + kUnit + " replace", stop = "StopUnit " + kUnit + " replace";
    EXPECT_EQ(bus.actions(), (Strings{start, stop, start}));
}

TEST_F(ServiceOps, PauseContinueCodesAndCallsReachTheMainProcessAsQueuedSignals) {
    platform::set_clock(nullptr);  // the receipt is waited for in real time
    testing::SignalRecorder service;  // the service's main process; it never answers
    unit("active", "", service.pid());
    EXPECT_EQ(call(ServicePause), (Result{"OK", kClassPaused}));
    EXPECT_EQ(service.next(), 2);
    EXPECT_EQ(call(ServiceContinue), (Result{"OK", kClassRunning}));
    EXPECT_EQ(service.next(), 3);
    for (const int code : {128, 140, 144, 255, 2, 3})
        EXPECT_TRUE(ServiceControl(code, "ZKEnterprise") && service.next() == code) << code;
    EXPECT_TRUE(ServiceControl(4, "ZKEnterprise"));   // interrogate: a query, no signal
    EXPECT_FALSE(ServiceControl(5, "ZKEnterprise"));  // shutdown is the system's own to send
    EXPECT_EQ(service.next(200), std::nullopt);
    EXPECT_TRUE(bus.actions().empty()) << "the signals go past the manager";
    // No answer: the code was still sent; the wait gives up after about 600 ms.
    std::string returned = "before";
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_TRUE(svc_call_func("HEARTBEAT", "Ktrsvc", kSettingsKey, returned));
    const auto waited = std::chrono::steady_clock::now() - asked;
    EXPECT_TRUE(waited >= std::chrono::milliseconds(550) && waited < std::chrono::seconds(2));
    EXPECT_EQ(service.next(), 133);
    EXPECT_EQ(returned, "before");
    EXPECT_FALSE(svc_call_func("REBOOT", "Ktrsvc", kSettingsKey, returned));
    EXPECT_EQ(service.next(100), std::nullopt);
}

TEST_F(ServiceOps, RegisterAndCreateWriteAndEnableTheUnitRemoveAndDeleteDisableAndRemoveIt) {
    dir_.write("ktr 100%", "");  // the program at a path with a space and a per cent sign
    const std::string program = dir_.file("ktr 100%"), file = bus.unit_dir() + "/" + kUnit;
    EXPECT_EQ(ServiceRegister("ZKEnterprise", "INSTALL", program), "OK");
    std::ifstream in(file);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    for (const std::string& line : Strings{"Type=notify\n", "ExecStart=\"" + dir_.path() + "/ktr 100%%\"\n",
                                           "User=root\n", "WantedBy=multi-user.target\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
    // A second service of the name, one for a path that is not absolute, or one for a path without a short
    // form (it does not exist) is not made.
    EXPECT_EQ(ServiceCreate("ZKEnterprise", "/usr/bin/ktrsvc"), "Could not create Service at path /usr/bin/ktrsvc");
    EXPECT_EQ(ServiceCreate("Other", "ktrsvc"), "Could not create Service at path ktrsvc");
    EXPECT_EQ(ServiceRegister("Other", "INSTALL", dir_.file("missing")), "Could not create Service at path " + dir_.file("missing"));
    EXPECT_FALSE(std::filesystem::exists(bus.unit_dir() + "/Other.service"));
    EXPECT_EQ(ServiceRegister("ZKEnterprise", "REMOVE", ""), "OK");
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(bus.actions(), (Strings{"Reload", "EnableUnitFiles " + kUnit, "DisableUnitFiles " + kUnit, "Reload"}));
    EXPECT_EQ(ServiceDelete("ZKEnterprise"), "Could not open Service ");
}

// On a bus nobody manages services on every operation says so (no bus at all: the service tool's test).
using ServiceOpsWithoutSystemd = testing::ModuleStateTest;
TEST_F(ServiceOpsWithoutSystemd, EveryOperationCannotOpenTheManager) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows always has its service control manager: there is no bus to take away";
#endif
    FakeSystemdBus bus(false);  // its own bus, with nobody on it
    if (!bus.ready()) GTEST_SKIP() << bus.error();
    const Result none{"Could not open Service Manager", kClassError};
    for (const auto operation : {ServiceStatus, ServiceStart, ServiceStop}) EXPECT_EQ(call(operation), none);
    EXPECT_EQ(ServiceCreate("ZKEnterprise", "/usr/bin/ktrsvc"), none.first);
    EXPECT_EQ(ServiceDelete("ZKEnterprise"), none.first);
    EXPECT_FALSE(ServiceControl(9, "ZKEnterprise"));
}

} // namespace
} // namespace ktr::app
