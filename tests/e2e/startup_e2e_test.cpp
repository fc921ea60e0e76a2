// Start-up and the registry tool, run as programs on a hive in a temporary program folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <sstream>

#include "module_process.h"

namespace ktr::testing {
namespace {

const std::string kRunKey = "HKCU\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";

// What a first start stores, in its order.
const std::vector<std::string> kWriteList{
    "SettingMode", "SetOnceExit", "NISTServer", "LocalPort", "LocalHost", "ServerFormat", "ClientFormat",
    "ServerName", "ServerType", "ServerPort", "ServerTZDiff", "GraphHistIgnore0", "ServerCustomFormat", "ServerConn",
    "TimedInterval", "SyncNextTime", "LoggingOn", "LoggingFileName", "LoggingMode", "LoggingActionFile",
    "LoggingMaxSecOn", "LoggingEvntFileName", "LoggingNTEvntOn", "LoggingFileOn", "LoggingEvntOn",
    "LoggingSyncStartOn", "LoggingSyncDoneOn", "LoggingConnFailOn", "LoggingCliEvntOn", "LoggingMaxSec",
    "SyncWarning", "SyncWarningInterval", "SyncWarnEmail", "EmailOptions", "LoggingSyslogOn", "LoggingSyslogServ",
    "GraphOn", "GraphDriftOn", "GraphDifferenceOn", "SyncDataPoints", "GraphHistOn", "GraphClientOpts",
    "GraphAutoSelect", "AutoDesiredAccuracy", "AutoUncertainty", "AutoPrevAccuracy", "AutoPrevSyncTime",
    "AutoPrevDifference", "DisplayCliSaveActives", "DisplayCliValidate", "DisplayTips", "DisplayCliDelInactives",
    "DisplayNISTTime", "DisplayControlPanel", "DisplayClientTree", "DisplayGraphData", "SetMaxThreshold",
    "SetMinThreshold", "SetMinThresholdDrift", "DomainName", "ControlMode", "ControlFunction", "ClientStart",
    "ClientKeyType", "TCPPort", "ControlFuncArgs", "ScheduleFileName", "ClientFileName", "Changed"};

class StartupE2E : public ::testing::Test {
protected:
    TempDir home;

    EnvOverrides env() const { return module_env(home); }
    uint16_t port = free_option_port();
    void SetUp() override { home.write("ZKEntinit.ini", "TCPPort," + std::to_string(port) + "\r\n"); }

    // Runs the module: once mode and removereg end by themselves; a desktop run is stopped once it listens
    // on the port.
    RunResult module(const std::vector<std::string>& words) {
        for (const auto& w : words)
            if (w == "once" || w == "removereg") return run_program(kBinDir + "/ktrsvc", words, env());
        ModuleProcess m(home, words, env());
        // A stored batch mode ends the run by itself.
        EXPECT_TRUE(m.wait_tcp(port) || !m.running()) << "the module does not listen on " << port;
        return m.stop();
    }
    RunResult reg(const std::vector<std::string>& args, const std::string& input = {}) {
        return run_reg(home, args, input);
    }
    std::string get(const std::string& key, const std::string& name) {
        const RunResult r = reg({"get", key, name});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        return r.out.substr(0, r.out.empty() ? 0 : r.out.size() - 1);
    }
    // (name, value) pairs of "ktrsvc-reg list".
    std::vector<std::pair<std::string, std::string>> list(const std::string& key) {
        const RunResult r = reg({"list", key});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        std::vector<std::pair<std::string, std::string>> values;
        std::istringstream in(r.out);
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("    ", 0) != 0) continue;
            const auto sep = line.find("    REG_SZ    ");
            if (sep == std::string::npos) continue;
            values.emplace_back(line.substr(4, sep - 4), line.substr(sep + 14));
        }
        return values;
    }
};

TEST_F(StartupE2E, FirstStartStoresTheWholeSetWithTheInitFileAndTheNextStartLoadsIt) {
    home.write("ZKEntinit.ini",
               "TCPPort," + std::to_string(port) + "\r\n"
               "NISTServer,\"time.example.org, backup.example.org\"\r\n"
               "NoSuchOption,1\r\n"
               "TimedInterval,soon\r\n"
               "DomainName , corp ,SyncWarning,True\r\n");
    const RunResult first = module({"debug"});
    ASSERT_EQ(first.exit_code, 0) << first.err;

    const auto values = list(kOptionsKey);
    std::vector<std::string> names;
    for (const auto& [n, v] : values) names.push_back(n);
    EXPECT_EQ(names, kWriteList);
    std::map<std::string, std::string> stored(values.begin(), values.end());
    EXPECT_EQ(stored["TCPPort"], std::to_string(port));
    EXPECT_EQ(stored["NISTServer"], "time.example.org, backup.example.org");
    EXPECT_EQ(stored["DomainName"], "corp");
    EXPECT_EQ(stored["SyncWarning"], "True");
    EXPECT_EQ(stored["TimedInterval"], "3600") << "a value that does not convert keeps the default";
    EXPECT_EQ(stored["SettingMode"], "2");
    EXPECT_EQ(stored["Changed"], "True");
    const std::string log1 = home.read("DebugFile.txt");
    EXPECT_NE(log1.find("Registry options not found for Ktrsvc.  Aborting."), std::string::npos);
    EXPECT_NE(log1.find("Initializing options for Ktrsvc Version 1.2.2 for the first time."), std::string::npos);
    EXPECT_NE(log1.find("set_option_value:  CASE ElseParam: NoSuchOption"), std::string::npos);

    // The second start loads what is stored and writes nothing back.
    port = free_option_port();
    ASSERT_EQ(reg({"set", kOptionsKey, "TCPPort", std::to_string(port)}).exit_code, 0);
    ASSERT_EQ(reg({"set", kOptionsKey, "Changed", "False"}).exit_code, 0);
    home.write("DebugFile.txt", "");
    ASSERT_EQ(module({"debug"}).exit_code, 0);
    const std::string log2 = home.read("DebugFile.txt");
    EXPECT_NE(log2.find("Start Registry_Get:"), std::string::npos);
    EXPECT_NE(log2.find("Option Key: TCPPort, Value: " + std::to_string(port)), std::string::npos);
    EXPECT_NE(log2.find("Option Key: NISTServer, Value: time.example.org, backup.example.org"), std::string::npos);
    EXPECT_EQ(log2.find("Initializing options"), std::string::npos);
    EXPECT_EQ(get(kOptionsKey, "Changed"), "False");
}

TEST_F(StartupE2E, OnceNeverTouchesTheRegistryAndAStoredModeZeroAlsoEndsInOnceMode) {
    ASSERT_EQ(module({"once", "debug"}).exit_code, 0);
    EXPECT_NE(home.read("DebugFile.txt").find("Once mode begins..."), std::string::npos);
    EXPECT_EQ(home.read("registry.db"), "") << "no hive is opened in once mode";

    ASSERT_EQ(module({}).exit_code, 0);
    ASSERT_EQ(reg({"set", kOptionsKey, "SettingMode", "0"}).exit_code, 0);
    home.write("DebugFile.txt", "");
    ASSERT_EQ(module({"debug"}).exit_code, 0);
    EXPECT_NE(home.read("DebugFile.txt").find("Once mode begins..."), std::string::npos);
}

TEST_F(StartupE2E, RemoveregClearsOnlyTheModulesOwnStartEntry) {
    home.write("ZntrkBkg.exe", "");
    const std::string own = home.file("ZntrkBkg.exe");
    ASSERT_EQ(reg({"set", kRunKey, "run", own}).exit_code, 0);
    ASSERT_EQ(module({"removereg"}).exit_code, 0);
    EXPECT_EQ(get(kRunKey, "run"), "");

    ASSERT_EQ(reg({"set", kRunKey, "run", "C:\\other\\prog.exe"}).exit_code, 0);
    ASSERT_EQ(module({"removereg"}).exit_code, 0);
    EXPECT_EQ(get(kRunKey, "run"), "C:\\other\\prog.exe");
}

TEST_F(StartupE2E, ABrokenHiveIsReportedAndNeverReplaced) {
    const std::string garbage = std::string(3000, '\x01') + "not a registry";
    home.write("registry.db", garbage);
    const RunResult r = module({"debug"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(home.read("registry.db"), garbage);
    const std::string log = home.read("DebugFile.txt");
    EXPECT_NE(log.find("cannot be used"), std::string::npos);
    EXPECT_NE(log.find("Initializing options for Ktrsvc"), std::string::npos) << "it runs on its defaults";
    EXPECT_EQ(log.find("Option Key saved"), std::string::npos) << "and stores nothing";

    const RunResult tool = reg({"list", kOptionsKey});
    EXPECT_EQ(tool.exit_code, 1);
    EXPECT_NE(tool.err.find(home.file("registry.db")), std::string::npos);
    EXPECT_EQ(std::count(tool.err.begin(), tool.err.end(), '\n'), 1) << tool.err;
    EXPECT_EQ(reg({"set", kOptionsKey, "TCPPort", "1"}).exit_code, 1);
    EXPECT_EQ(home.read("registry.db"), garbage);
}

TEST_F(StartupE2E, TheToolReadsWritesExportsAndImports) {
    EXPECT_EQ(reg({"--help"}).exit_code, 0);
    EXPECT_NE(reg({}).exit_code, 0);
    EXPECT_NE(reg({"frobnicate"}).exit_code, 0);

    ASSERT_EQ(reg({"set", "HKCU\\Software\\Test", "Text", "a \"quoted\" \\ path"}).exit_code, 0);
    ASSERT_EQ(reg({"set", "HKCU\\Software\\Test", "Count", "42", "--dword"}).exit_code, 0);
    ASSERT_EQ(reg({"set", "HKCU\\Software\\Test\\Sub", "Empty", ""}).exit_code, 0);
    EXPECT_EQ(get("HKEY_USERS\\.default\\software\\test", "TEXT"), "a \"quoted\" \\ path");
    EXPECT_EQ(get("HKU\\.DEFAULT\\Software\\Test", "Count"), "42");
    EXPECT_NE(reg({"set", "HKCU\\Software\\Test", "Count", "lots", "--dword"}).exit_code, 0);

    const RunResult missing_value = reg({"get", "HKCU\\Software\\Test", "Nothing"});
    EXPECT_EQ(missing_value.exit_code, 1);
    EXPECT_EQ(missing_value.err, "ktrsvc-reg: value not found: Nothing in HKEY_CURRENT_USER\\Software\\Test\n");
    const RunResult missing_key = reg({"list", "HKLM\\Software\\Nothing"});
    EXPECT_EQ(missing_key.exit_code, 1);
    EXPECT_EQ(missing_key.err, "ktrsvc-reg: key not found: HKEY_LOCAL_MACHINE\\Software\\Nothing\n");
    EXPECT_EQ(reg({"list", "HKXX\\Software"}).exit_code, 1);

    const RunResult exported = reg({"export", "HKCU\\Software\\Test"});
    ASSERT_EQ(exported.exit_code, 0);
    EXPECT_EQ(exported.out,
              "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Test]\n\"Text\"=\"a \\\"quoted\\\" \\\\ path\"\n"
              "\"Count\"=dword:0000002a\n\n[HKEY_CURRENT_USER\\Software\\Test\\Sub]\n\"Empty\"=\"\"\n");

    // Into another hive and out again: the same text.
    TempDir other;
    const RunResult imported = run_reg(other, {"import", "-"}, exported.out);
    ASSERT_EQ(imported.exit_code, 0) << imported.err;
    EXPECT_EQ(run_reg(other, {"export", "HKCU\\Software\\Test"}).out, exported.out);
    EXPECT_EQ(run_reg(other, {"import", "-"}, "not a reg file\n").exit_code, 1);
    const RunResult removals = run_reg(other, {"import", "-"},
                                       "REGEDIT4\r\n\r\n[-HKEY_CURRENT_USER\\Software\\Test\\Sub]\r\n"
                                       "[HKEY_CURRENT_USER\\Software\\Test]\r\n\"Count\"=-\r\n");
    ASSERT_EQ(removals.exit_code, 0) << removals.err;
    EXPECT_EQ(run_reg(other, {"export", "HKCU\\Software\\Test"}).out,
              "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Test]\n\"Text\"=\"a \\\"quoted\\\" \\\\ path\"\n");

    ASSERT_EQ(reg({"delete", "HKCU\\Software\\Test", "Count"}).exit_code, 0);
    EXPECT_EQ(reg({"delete", "HKCU\\Software\\Test", "Count"}).exit_code, 1);
    ASSERT_EQ(reg({"delete", "HKCU\\Software\\Test"}).exit_code, 0);
    EXPECT_EQ(reg({"list", "HKCU\\Software\\Test\\Sub"}).exit_code, 1);
}

TEST_F(StartupE2E, ProcessesWritingAtTheSameMomentAllLand) {
    // The module's first start and a crowd of tool writes race for the hive.
    std::vector<std::unique_ptr<RunningProgram>> running;
    ModuleProcess module_run(home, {}, env());
    constexpr int kWriters = 8;
    for (int i = 0; i < kWriters; ++i)
        running.push_back(std::make_unique<RunningProgram>(
            kBinDir + "/ktrsvc-reg",
            std::vector<std::string>{"set", "HKCU\\Software\\Race", "Writer" + std::to_string(i), std::to_string(i)},
            env()));
    for (auto& p : running) {
        const RunResult r = p->wait(60000);
        EXPECT_EQ(r.exit_code, 0) << r.err;
    }
    EXPECT_TRUE(module_run.wait_tcp(port));
    EXPECT_EQ(module_run.stop().exit_code, 0);
    for (int i = 0; i < kWriters; ++i)
        EXPECT_EQ(get("HKCU\\Software\\Race", "Writer" + std::to_string(i)), std::to_string(i));
    EXPECT_EQ(get(kOptionsKey, "Changed"), "True");
    EXPECT_EQ(list(kOptionsKey).size(), kWriteList.size());
}

} // namespace
} // namespace ktr::testing
