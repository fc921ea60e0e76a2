// Start-up, the debug switch and the registry tool, run as programs on a hive in a temporary program folder.
#include <gtest/gtest.h>

#include "module_process.h"

namespace ktr::testing {
namespace {

class StartupE2E : public ModuleTest {
protected:
    // A run that ends by itself (once mode).
    RunResult run(std::vector<std::string> words) { return run_program(program("ktrsvc"), words, module_env(home)); }
    RunResult reg(const std::vector<std::string>& args) { return run_reg(home, args); }
    std::string get(const std::string& key, const std::string& name) {
        const std::string out = reg({"get", key, name}).out;
        return out.substr(0, out.empty() ? 0 : out.size() - 1);
    }
    bool logged(const std::string& text) { return home.read("DebugFile.txt").find(text) != std::string::npos; }
};

TEST_F(StartupE2E, OnceFirstAndNextStarts) {
    ASSERT_EQ(run({"debug", "once"}).exit_code, 0);
    EXPECT_EQ(home.read("registry.db"), "") << "no hive is opened in once mode";
    EXPECT_TRUE(logged("Once mode begins..."));

    // The first start stores the whole set while tool writes race with it for the hive.
    home.write("DebugFile.txt", "");
    std::vector<std::unique_ptr<RunningProgram>> writers;
    for (const std::string i : {"0", "1", "2", "3", "4", "5", "6", "7"})
        writers.push_back(std::make_unique<RunningProgram>(
            program("ktrsvc-reg"), std::vector<std::string>{"set", "HKCU\\Software\\Race", "Writer" + i, i},
            module_env(home)));
    start("NISTServer,\"time.example.org, backup.example.org\"\r\n");
    stop();
    for (size_t i = 0; i < writers.size(); ++i) {
        EXPECT_EQ(writers[i]->wait(60000).exit_code, 0);
        EXPECT_EQ(get("HKCU\\Software\\Race", "Writer" + std::to_string(i)), std::to_string(i));
    }
    const std::string set = reg({"export", kOptionsKey}).out;
    EXPECT_EQ(occurrences(set, "\n\""), 69u) << set;
    // Stored in the order of the list; Wine's registry lists values by name instead.
    EXPECT_TRUE(under_wine() || (set.find("]\n\"SettingMode\"=\"2\"\n") != std::string::npos &&
                                 set.ends_with("\n\"Changed\"=\"True\"\n"))) << set;
    EXPECT_NE(set.find("\n\"NISTServer\"=\"time.example.org, backup.example.org\"\n"), std::string::npos);

    // The next start loads what is stored and writes nothing back; a stored mode 0 ends it in once mode.
    ASSERT_EQ(reg({"set", kOptionsKey, "Changed", "False"}).exit_code, 0);
    ASSERT_EQ(reg({"set", kOptionsKey, "SettingMode", "0"}).exit_code, 0);
    home.write("DebugFile.txt", "");
    ASSERT_EQ(run({"debug"}).exit_code, 0);
    EXPECT_TRUE(logged("Option Key: NISTServer, Value: time.example.org, backup.example.org"));
    EXPECT_TRUE(logged("Once mode begins..."));
    EXPECT_EQ(get(kOptionsKey, "Changed"), "False");
}

TEST_F(StartupE2E, ABrokenHiveIsReportedAndNeverReplaced) {
#ifdef _WIN32
    GTEST_SKIP() << "the Windows registry is no file in the program folder that a test can break";
#endif
    const std::string garbage = std::string(3000, '\x01') + "not a registry";
    home.write("registry.db", garbage);
    start();  // on its defaults
    EXPECT_NE(stop().err.find(home.file("registry.db")), std::string::npos) << "reported on standard error";
    EXPECT_TRUE(logged("cannot be used"));
    const RunResult tool = reg({"list", kOptionsKey});
    EXPECT_TRUE(tool.exit_code == 1 && occurrences(tool.err, "\n") == 1 &&
                tool.err.find(home.file("registry.db")) != std::string::npos) << tool.err;
    EXPECT_EQ(reg({"set", kOptionsKey, "TCPPort", "1"}).exit_code, 1);
    EXPECT_EQ(home.read("registry.db"), garbage);
}

TEST_F(StartupE2E, TheToolReadsWritesExportsAndImports) {
    const std::string key = "HKCU\\Software\\Test";
    // Values written in name order, as Wine's registry lists them.
    const std::pair<std::vector<std::string>, bool> calls[] = {  // each call and whether it succeeds
        {{"--help"}, true}, {{}, false}, {{"frobnicate"}, false}, {{"list", "HKXX\\Software"}, false},
        {{"set", key, "Count", "42", "--dword"}, true}, {{"set", key, "Text", "a \"quoted\" \\ path"}, true},
        {{"set", key + "\\Sub", "Empty", ""}, true}, {{"set", key, "Count", "lots", "--dword"}, false}};
    for (const auto& [args, ok] : calls) EXPECT_EQ(reg(args).exit_code == 0, ok) << ::testing::PrintToString(args);
    EXPECT_EQ(reg({"get", key, "Nothing"}).err,
              "ktrsvc-reg: value not found: Nothing in HKEY_CURRENT_USER\\Software\\Test\n");

    const std::string head = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Test]\n",
                      text = "\"Text\"=\"a \\\"quoted\\\" \\\\ path\"\n";
    const std::string dump = reg({"export", key}).out;
    EXPECT_EQ(dump, head + "\"Count\"=dword:0000002a\n" + text +
                        "\n[HKEY_CURRENT_USER\\Software\\Test\\Sub]\n\"Empty\"=\"\"\n");
    // Into another hive and out again: the same text; then removals by key and by value.
    ProgramFolder other;
    ASSERT_EQ(run_reg(other, {"import", "-"}, dump).exit_code, 0);
    EXPECT_EQ(run_reg(other, {"export", key}).out, dump);
    ASSERT_EQ(run_reg(other, {"import", "-"}, "REGEDIT4\r\n\r\n[-HKEY_CURRENT_USER\\Software\\Test\\Sub]\r\n"
                                              "[HKEY_CURRENT_USER\\Software\\Test]\r\n\"Count\"=-\r\n").exit_code, 0);
    EXPECT_EQ(run_reg(other, {"export", key}).out, head + text);
    ASSERT_EQ(reg({"delete", key, "Count"}).exit_code, 0);
    EXPECT_EQ(reg({"delete", key, "Count"}).exit_code, 1);
    ASSERT_EQ(reg({"delete", key}).exit_code, 0);
}

} // namespace
} // namespace ktr::testing
