// Start-up, the debug switch and the registry tool, run as programs on a hive in a temporary program folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "module_process.h"

namespace ktr::testing {
namespace {

// An export with each key's values in name order. Wine's registry lists values by name; Windows' and the
// file hive list them in the order they were written.
std::string values_by_name(const std::string& text) {
    std::istringstream in(text);
    std::string out;
    std::vector<std::string> values;
    const auto flush = [&] {
        std::sort(values.begin(), values.end());
        for (const auto& v : values) out += v + "\n";
        values.clear();
    };
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("\"")) {
            values.push_back(line);
            continue;
        }
        flush();
        out += line + "\n";
    }
    flush();
    return out;
}

class StartupE2E : public ModuleTest {
protected:
    // A run that ends by itself (once mode, removereg).
    RunResult run(std::vector<std::string> words) { return run_program(program("ktrsvc"), words, module_env(home)); }
    RunResult reg(const std::vector<std::string>& args) { return run_reg(home, args); }
    std::string get(const std::string& key, const std::string& name) {
        const std::string out = reg({"get", key, name}).out;
        return out.substr(0, out.empty() ? 0 : out.size() - 1);
    }
    bool logged(const std::string& text) { return home.read("DebugFile.txt").find(text) != std::string::npos; }
};

TEST_F(StartupE2E, OnceFirstAndNextStartsAndRemovereg) {
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
    start("TimedInterval,soon\r\nNISTServer,\"time.example.org, backup.example.org\"\r\n");
    stop();
    for (size_t i = 0; i < writers.size(); ++i) {
        EXPECT_EQ(writers[i]->wait(60000).exit_code, 0);
        EXPECT_EQ(get("HKCU\\Software\\Race", "Writer" + std::to_string(i)), std::to_string(i));
    }
    const std::string set = reg({"export", kOptionsKey}).out;
    EXPECT_EQ(occurrences(set, "\n\""), 69u) << set;
    if (under_wine()) {  // its registry lists the values by name, not in the order they were stored
        EXPECT_NE(set.find("\n\"SettingMode\"=\"2\"\n"), std::string::npos);
        EXPECT_NE(set.find("\n\"Changed\"=\"True\"\n"), std::string::npos);
    } else {
        EXPECT_NE(set.find("]\n\"SettingMode\"=\"2\"\n"), std::string::npos) << "first in the stored list";
        EXPECT_TRUE(set.ends_with("\n\"Changed\"=\"True\"\n")) << "last";
    }
    EXPECT_NE(set.find("\n\"NISTServer\"=\"time.example.org, backup.example.org\"\n"), std::string::npos);
    EXPECT_NE(set.find("\n\"TimedInterval\"=\"3600\"\n"), std::string::npos) << "\"soon\" does not convert";

    // The next start loads what is stored and writes nothing back; a stored mode 0 ends it in once mode.
    ASSERT_EQ(reg({"set", kOptionsKey, "Changed", "False"}).exit_code, 0);
    ASSERT_EQ(reg({"set", kOptionsKey, "SettingMode", "0"}).exit_code, 0);
    home.write("DebugFile.txt", "");
    ASSERT_EQ(run({"debug"}).exit_code, 0);
    EXPECT_TRUE(logged("Option Key: NISTServer, Value: time.example.org, backup.example.org"));
    EXPECT_TRUE(logged("Once mode begins..."));
    EXPECT_EQ(get(kOptionsKey, "Changed"), "False");

    // Removereg clears only the module's own start entry, which names the program by its short path.
    const std::string run_key = "HKCU\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
    home.write("ZntrkBkg.exe", "");
    for (const auto& [entry, after] : {std::pair{short_path(home.file("ZntrkBkg.exe")), std::string()},
                                       {"C:\\other\\prog.exe", "C:\\other\\prog.exe"}}) {
        ASSERT_EQ(reg({"set", run_key, "run", entry}).exit_code, 0);
        ASSERT_EQ(run({"removereg"}).exit_code, 0);
        EXPECT_EQ(get(run_key, "run"), after);
    }
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
    const std::pair<std::vector<std::string>, bool> calls[] = {  // each call and whether it succeeds
        {{"--help"}, true}, {{}, false}, {{"frobnicate"}, false}, {{"list", "HKXX\\Software"}, false},
        {{"set", key, "Text", "a \"quoted\" \\ path"}, true}, {{"set", key, "Count", "42", "--dword"}, true},
        {{"set", key + "\\Sub", "Empty", ""}, true}, {{"set", key, "Count", "lots", "--dword"}, false}};
    for (const auto& [args, ok] : calls) EXPECT_EQ(reg(args).exit_code == 0, ok) << ::testing::PrintToString(args);
    EXPECT_EQ(get("HKEY_USERS\\.default\\software\\test", "TEXT"), "a \"quoted\" \\ path");
    EXPECT_EQ(reg({"get", key, "Nothing"}).err,
              "ktrsvc-reg: value not found: Nothing in HKEY_CURRENT_USER\\Software\\Test\n");

    const std::string text =
        "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Test]\n\"Text\"=\"a \\\"quoted\\\" \\\\ path\"\n";
    const std::string dump = reg({"export", key}).out;
    const std::string expected =
        text + "\"Count\"=dword:0000002a\n\n[HKEY_CURRENT_USER\\Software\\Test\\Sub]\n\"Empty\"=\"\"\n";
    if (under_wine())
        EXPECT_EQ(values_by_name(dump), values_by_name(expected));
    else
        EXPECT_EQ(dump, expected);
    // Into another hive and out again: the same text; then removals by key and by value.
    ProgramFolder other;
    ASSERT_EQ(run_reg(other, {"import", "-"}, dump).exit_code, 0);
    EXPECT_EQ(run_reg(other, {"export", key}).out, dump);
    ASSERT_EQ(run_reg(other, {"import", "-"}, "REGEDIT4\r\n\r\n[-HKEY_CURRENT_USER\\Software\\Test\\Sub]\r\n"
                                              "[HKEY_CURRENT_USER\\Software\\Test]\r\n\"Count\"=-\r\n").exit_code, 0);
    EXPECT_EQ(run_reg(other, {"export", key}).out, text);
    ASSERT_EQ(reg({"delete", key, "Count"}).exit_code, 0);
    EXPECT_EQ(reg({"delete", key, "Count"}).exit_code, 1);
    ASSERT_EQ(reg({"delete", key}).exit_code, 0);
}

} // namespace
} // namespace ktr::testing
