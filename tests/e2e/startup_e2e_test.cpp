// Start-up, the debug switch and the registry tool, run as programs on a hive in a temporary program folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <sstream>

#include "module_process.h"

namespace ktr::testing {
namespace {

const std::string kRunKey = "HKCU\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
constexpr size_t kStoredOptions = 69;  // what a first start stores under the options key

class StartupE2E : public ::testing::Test {
protected:
    TempDir home;
    uint16_t port = free_option_port();
    void SetUp() override { home.write("ZKEntinit.ini", "TCPPort," + std::to_string(port) + "\r\n"); }

    // Runs the module: once mode and removereg end by themselves; a desktop run is stopped once it listens
    // on the port.
    RunResult module(const std::vector<std::string>& words) {
        if (std::count(words.begin(), words.end(), "once") || std::count(words.begin(), words.end(), "removereg"))
            return run_program(kBinDir + "/ktrsvc", words, module_env(home));
        ModuleProcess m(home, words);
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
    // (name, value) pairs of "ktrsvc-reg list", in the listed order.
    std::vector<std::pair<std::string, std::string>> list(const std::string& key) {
        const RunResult r = reg({"list", key});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        std::vector<std::pair<std::string, std::string>> values;
        std::istringstream in(r.out);
        for (std::string line; std::getline(in, line);) {
            const auto sep = line.find("    REG_SZ    ");
            if (line.rfind("    ", 0) == 0 && sep != std::string::npos)
                values.emplace_back(line.substr(4, sep - 4), line.substr(sep + 14));
        }
        return values;
    }
    bool logged(const std::string& text) { return home.read("DebugFile.txt").find(text) != std::string::npos; }
};

// "mm-dd hh:nn:ss  " and the text, ended by CR LF.
bool time_stamped(const std::string& line) {
    const std::string shape = "dd-dd dd:dd:dd  ";
    if (line.size() < shape.size() + 1 || line.back() != '\r') return false;
    for (size_t i = 0; i < shape.size(); ++i)
        if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(line[i])) : line[i] != shape[i]) return false;
    return true;
}

TEST_F(StartupE2E, FirstStartStoresTheWholeSetWithTheInitFileAndTheNextStartLoadsIt) {
    home.write("ZKEntinit.ini", "TCPPort," + std::to_string(port) + "\r\n"
                                "NISTServer,\"time.example.org, backup.example.org\"\r\nTimedInterval,soon\r\n");
    ASSERT_EQ(module({"debug"}).exit_code, 0);
    const auto values = list(kOptionsKey);
    ASSERT_EQ(values.size(), kStoredOptions);
    EXPECT_EQ(values.front(), (std::pair<std::string, std::string>{"SettingMode", "2"}));
    EXPECT_EQ(values.back(), (std::pair<std::string, std::string>{"Changed", "True"}));
    std::map<std::string, std::string> stored(values.begin(), values.end());
    EXPECT_EQ(stored["TCPPort"], std::to_string(port));
    EXPECT_EQ(stored["NISTServer"], "time.example.org, backup.example.org");
    EXPECT_EQ(stored["TimedInterval"], "3600") << "a value that does not convert keeps the default";
    EXPECT_TRUE(logged("Initializing options for Ktrsvc Version 1.2.2 for the first time."));

    // The second start loads what is stored and writes nothing back.
    port = free_option_port();
    ASSERT_EQ(reg({"set", kOptionsKey, "TCPPort", std::to_string(port)}).exit_code, 0);
    ASSERT_EQ(reg({"set", kOptionsKey, "Changed", "False"}).exit_code, 0);
    home.write("DebugFile.txt", "");
    ASSERT_EQ(module({"debug"}).exit_code, 0);
    EXPECT_TRUE(logged("Option Key: NISTServer, Value: time.example.org, backup.example.org"));
    EXPECT_FALSE(logged("Initializing options"));
    EXPECT_EQ(get(kOptionsKey, "Changed"), "False");
}

TEST_F(StartupE2E, OnceNeverTouchesTheRegistryAndAStoredModeZeroAlsoEndsInOnceMode) {
    ASSERT_EQ(module({"debug", "once"}).exit_code, 0);
    EXPECT_EQ(home.read("registry.db"), "") << "no hive is opened in once mode";
    // Every line of the debug file is time-stamped, from the switch on to once mode.
    std::istringstream lines(home.read("DebugFile.txt"));
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) EXPECT_TRUE(time_stamped(line)) << line;
    EXPECT_GE(count, 4);
    EXPECT_TRUE(logged("  Debug FILE mode is now on.\r\n"));
    EXPECT_TRUE(logged("Once mode begins..."));

    ASSERT_EQ(module({}).exit_code, 0);
    ASSERT_EQ(reg({"set", kOptionsKey, "SettingMode", "0"}).exit_code, 0);
    home.write("DebugFile.txt", "");
    ASSERT_EQ(module({"debug"}).exit_code, 0);
    EXPECT_TRUE(logged("Once mode begins..."));
}

TEST_F(StartupE2E, RemoveregClearsOnlyTheModulesOwnStartEntry) {
    home.write("ZntrkBkg.exe", "");
    for (const auto& [entry, after] : {std::pair{home.file("ZntrkBkg.exe"), std::string()},
                                       {"C:\\other\\prog.exe", "C:\\other\\prog.exe"}}) {
        ASSERT_EQ(reg({"set", kRunKey, "run", entry}).exit_code, 0);
        ASSERT_EQ(module({"removereg"}).exit_code, 0);
        EXPECT_EQ(get(kRunKey, "run"), after);
    }
}

TEST_F(StartupE2E, ABrokenHiveIsReportedAndNeverReplaced) {
    const std::string garbage = std::string(3000, '\x01') + "not a registry";
    home.write("registry.db", garbage);
    EXPECT_EQ(module({"debug"}).exit_code, 0);
    EXPECT_EQ(home.read("registry.db"), garbage);
    EXPECT_TRUE(logged("cannot be used"));
    EXPECT_TRUE(logged("Initializing options for Ktrsvc")) << "it runs on its defaults";
    EXPECT_FALSE(logged("Option Key saved")) << "and stores nothing";

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
    EXPECT_NE(reg({"set", "HKCU\\Software\\Test", "Count", "lots", "--dword"}).exit_code, 0);
    EXPECT_EQ(reg({"get", "HKCU\\Software\\Test", "Nothing"}).err,
              "ktrsvc-reg: value not found: Nothing in HKEY_CURRENT_USER\\Software\\Test\n");
    EXPECT_EQ(reg({"list", "HKLM\\Software\\Nothing"}).err,
              "ktrsvc-reg: key not found: HKEY_LOCAL_MACHINE\\Software\\Nothing\n");
    EXPECT_EQ(reg({"list", "HKXX\\Software"}).exit_code, 1);

    const std::string text = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Test]\n\"Text\"=\"a \\\"quoted\\\" \\\\ path\"\n";
    const RunResult exported = reg({"export", "HKCU\\Software\\Test"});
    EXPECT_EQ(exported.out, text + "\"Count\"=dword:0000002a\n\n[HKEY_CURRENT_USER\\Software\\Test\\Sub]\n\"Empty\"=\"\"\n");
    // Into another hive and out again: the same text; then removals by key and by value.
    TempDir other;
    ASSERT_EQ(run_reg(other, {"import", "-"}, exported.out).exit_code, 0);
    EXPECT_EQ(run_reg(other, {"export", "HKCU\\Software\\Test"}).out, exported.out);
    EXPECT_EQ(run_reg(other, {"import", "-"}, "not a reg file\n").exit_code, 1);
    ASSERT_EQ(run_reg(other, {"import", "-"}, "REGEDIT4\r\n\r\n[-HKEY_CURRENT_USER\\Software\\Test\\Sub]\r\n"
                                              "[HKEY_CURRENT_USER\\Software\\Test]\r\n\"Count\"=-\r\n").exit_code, 0);
    EXPECT_EQ(run_reg(other, {"export", "HKCU\\Software\\Test"}).out, text);

    ASSERT_EQ(reg({"delete", "HKCU\\Software\\Test", "Count"}).exit_code, 0);
    EXPECT_EQ(reg({"delete", "HKCU\\Software\\Test", "Count"}).exit_code, 1);
    ASSERT_EQ(reg({"delete", "HKCU\\Software\\Test"}).exit_code, 0);
    EXPECT_EQ(reg({"list", "HKCU\\Software\\Test\\Sub"}).exit_code, 1);
}

TEST_F(StartupE2E, ProcessesWritingAtTheSameMomentAllLand) {
    // The module's first start and a crowd of tool writes race for the hive.
    ModuleProcess module_run(home);
    std::vector<std::unique_ptr<RunningProgram>> writers;
    for (int i = 0; i < 8; ++i)
        writers.push_back(std::make_unique<RunningProgram>(
            kBinDir + "/ktrsvc-reg",
            std::vector<std::string>{"set", "HKCU\\Software\\Race", "Writer" + std::to_string(i), std::to_string(i)},
            module_env(home)));
    for (auto& p : writers) EXPECT_EQ(p->wait(60000).exit_code, 0);
    EXPECT_TRUE(module_run.wait_tcp(port));
    EXPECT_EQ(module_run.stop().exit_code, 0);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(get("HKCU\\Software\\Race", "Writer" + std::to_string(i)), std::to_string(i));
    EXPECT_EQ(list(kOptionsKey).size(), kStoredOptions);
}

} // namespace
} // namespace ktr::testing
