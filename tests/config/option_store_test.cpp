#include <gtest/gtest.h>

#include <cstdlib>

#include "config/option_store.h"
#include "config/options.h"
#include "config/program.h"
#include "config/registry_tools.h"
#include "diag/debug_log.h"
#include "fakes/temp_dir.h"
#include "platform/files.h"
#include "platform/pending_error.h"
#include "platform/registry_hive.h"
#include "platform/settings_store.h"

namespace ktr::config {
namespace {

const std::string kOptionsPath = ".DEFAULT\\Software\\VB and VBA Program Settings\\Ktrsvc\\Options";

// A fresh hive in its own program folder, the debug log going to a file there.
class StoreTest : public ::testing::Test {
protected:
    testing::TempDir dir;
    diag::DebugState saved_debug = diag::debug_state();
    std::string saved_folder = platform::program_folder();

    void SetUp() override {
        setenv("KTRSVC_REGISTRY", dir.file("registry.db").c_str(), 1);
        platform::set_program_folder(dir.path());
        platform::close_registry_hive();
        program().registry_root = kHkeyUsers;
        program().options_key = kOptionsPath;
        auto& debug = diag::debug_state();
        debug.on = true;
        debug.to_file = true;
        debug.file_path = dir.file("debug.log");
        diag::set_debug_file_mode(true);
    }
    void TearDown() override {
        diag::set_debug_file_mode(false);
        diag::debug_state() = saved_debug;
        platform::close_registry_hive();
        platform::set_program_folder(saved_folder);
        unsetenv("KTRSVC_REGISTRY");
        platform::clear_pending_error();
    }
    std::string log() {
        diag::set_debug_file_mode(false);
        const std::string text = dir.read("debug.log");
        diag::set_debug_file_mode(true);
        return text;
    }
    bool logged(const std::string& line) { return log().find(line) != std::string::npos; }
    std::vector<std::pair<std::string, platform::RegValue>> stored() {
        platform::RegKey key;
        std::vector<std::pair<std::string, platform::RegValue>> values;
        if (platform::registry_hive().open_key(kHkeyUsers, kOptionsPath, key) == platform::kRegOk)
            platform::registry_hive().enum_values(key, values);
        return values;
    }
};

TEST_F(StoreTest, WrapperOpensOnlyExistingKeysAndReadsBackWhatItWrote) {
    static const std::string kHere = "Software\\Here";
    const auto set = [](auto name, auto v, int type) { return SetKeyValue(kHere, kHkeyLocalMachine, name, v, type); };
    const auto query = [](auto name, std::string& v) { return QueryValue(kHere, kHkeyLocalMachine, name, v); };
    std::string value = "untouched";
    EXPECT_FALSE(set("v", "x", kRegTypeString));
    EXPECT_TRUE(logged("Error Opening key: v, setting: x"));
    EXPECT_FALSE(query("v", value));
    EXPECT_EQ(value, "untouched");

    ASSERT_TRUE(CreateNewKey(kHere, kHkeyLocalMachine));
    EXPECT_TRUE(set("n", "-7", kRegTypeNumber));
    EXPECT_TRUE(set("s", std::string("abc\0\0", 5), kRegTypeString));
    EXPECT_TRUE(set("bin", "zz", 3)) << "other types write nothing";
    // A number that does not convert is a failed write, but the key was opened.
    EXPECT_TRUE(set("n", "many", kRegTypeNumber));
    EXPECT_TRUE(logged("Error Setting value of key: Software\\Here"));
    ASSERT_TRUE(query("n", value));
    EXPECT_EQ(value, "-7");
    ASSERT_TRUE(query("s", value));
    EXPECT_EQ(value, "abc") << "a string read back keeps no trailing NUL";
    EXPECT_FALSE(query("bin", value));
    EXPECT_TRUE(logged("Error querying value of key: Software\\Here Name:_bin_"));

    EXPECT_EQ(strip_trailing_nuls(std::string("\0\0", 2)), "");
    EXPECT_EQ(strip_trailing_nuls(std::string("a\0b\0", 4)), std::string("a\0b", 3));
    EXPECT_EQ(GetShortNameFromLongName(dir.file("nothing/here.exe")), "");
    EXPECT_EQ(GetShortNameFromLongName(dir.path()), dir.path());
}

TEST_F(StoreTest, StartupEntryIsWrittenOnlyOverNothingOrItself) {
    const std::string own = dir.file("ZntrkBkg.exe");
    ASSERT_TRUE(CreateNewKey(kNtRunKey, kHkeyCurrentUser));
    // Without the background program there is nothing to start, and an empty entry is not ours.
    SaveStartupRegistrySetting(true, "Ktrsvc");
    EXPECT_FALSE(check_startup_entry("Ktrsvc"));

    dir.write("ZntrkBkg.exe", "");
    EXPECT_FALSE(check_startup_entry("Ktrsvc"));
    SaveStartupRegistrySetting(true, "Ktrsvc");
    EXPECT_TRUE(check_startup_entry("Ktrsvc"));
    std::string run;
    ASSERT_TRUE(QueryValue(kNtRunKey, kHkeyCurrentUser, "run", run));
    EXPECT_EQ(run, own);

    SaveStartupRegistrySetting(false, "Ktrsvc");
    ASSERT_TRUE(QueryValue(kNtRunKey, kHkeyCurrentUser, "run", run));
    EXPECT_EQ(run, "");

    ASSERT_TRUE(SetKeyValue(kNtRunKey, kHkeyCurrentUser, "run", "other.exe", kRegTypeString));
    SaveStartupRegistrySetting(true, "Ktrsvc");
    EXPECT_TRUE(logged("Cant set the auto startup action"));
    SaveStartupRegistrySetting(false, "Ktrsvc");
    remove_startup_entry("Ktrsvc");
    ASSERT_TRUE(QueryValue(kNtRunKey, kHkeyCurrentUser, "run", run));
    EXPECT_EQ(run, "other.exe");
    EXPECT_FALSE(check_startup_entry("Ktrsvc"));
}

TEST_F(StoreTest, KeyStoreWritesItsListInOrderAndReadsBackItsOwnList) {
    COptions written;
    set_option_defaults(written);
    written.TCPPort(2000);
    written.NISTServer("a, b");
    written.Servername("peer");
    written.msecTimeOffset(55);        // never stored by the key store
    written.DisplayCliViewAll(false);  // nor this
    ASSERT_TRUE(CreateNewKey(kOptionsPath, kHkeyUsers));
    ASSERT_TRUE(Registry_Set(kOptionsPath, written));

    const auto values = stored();
    ASSERT_EQ(values.size(), 69u);
    EXPECT_EQ(values.front().first, "SettingMode");
    EXPECT_EQ(values[7].first, "ServerName");
    EXPECT_EQ(values[7].second.text(), "peer");
    EXPECT_EQ(values[55].first, "DisplayGraphData");
    EXPECT_EQ(values[56].first, "SetMaxThreshold");
    EXPECT_EQ(values.back().first, "Changed");
    EXPECT_EQ(values.back().second.text(), "True");
    for (const auto& [name, v] : values) {
        EXPECT_TRUE(name != "msecTimeOffset" && name != "LastSyncTime" && name != "DisplayCliViewAll") << name;
        EXPECT_EQ(v.type, platform::kRegSz);
    }
    EXPECT_TRUE(logged("Option Key saved: TCPPort, Value: 2000"));

    COptions read;
    read.GraphClientOpts("kept");  // written but not read back
    ASSERT_TRUE(Registry_Get(read, "Ktrsvc"));
    EXPECT_EQ(read.TCPPort(), 2000);
    EXPECT_EQ(read.NISTServer(), "a, b");
    EXPECT_EQ(read.Servername(), "peer");
    EXPECT_EQ(read.SetMaxThreshold(), 86400);
    EXPECT_TRUE(read.LoggingOn());
    EXPECT_EQ(read.GraphClientOpts(), "kept");
    EXPECT_EQ(read.msecTimeOffset(), 0);
}

TEST_F(StoreTest, KeyStoreMissingAndBadValues) {
    COptions o;
    o.TCPPort(7);
    EXPECT_FALSE(Registry_Get(o, "Ktrsvc")) << "no key at all";
    EXPECT_EQ(o.TCPPort(), 7);
    EXPECT_TRUE(logged("RegistryGet: All settings are empty."));

    ASSERT_TRUE(CreateNewKey(kOptionsPath, kHkeyUsers));
    ASSERT_TRUE(save_option_key(kOptionsPath, "NISTServer", "x"));
    EXPECT_FALSE(Registry_Get(o, "Ktrsvc")) << "a one-character server counts as empty";

    ASSERT_TRUE(save_option_key(kOptionsPath, "NISTServer", "time.example"));
    ASSERT_TRUE(save_option_key(kOptionsPath, "TimedInterval", "often"));
    ASSERT_TRUE(save_option_key(kOptionsPath, "SetMaxThreshold", "2.5"));
    ASSERT_TRUE(save_option_key(kOptionsPath, "SetMinThreshold", "3.5"));
    ASSERT_TRUE(save_option_key(kOptionsPath, "ServerPort", "99999"));
    ASSERT_TRUE(save_option_key(kOptionsPath, "GraphOn", "0"));
    o.TimedInterval(3600);
    o.ServerPort(1001);
    ASSERT_TRUE(Registry_Get(o, "Ktrsvc"));
    EXPECT_EQ(o.TimedInterval(), 3600);
    EXPECT_EQ(o.SetMaxThreshold(), 2) << "halves go to the even neighbour";
    EXPECT_EQ(o.SetMinThreshold(), 4);
    EXPECT_EQ(o.ServerPort(), 1001) << "out of the 16-bit range";
    EXPECT_FALSE(o.GraphOn());
    EXPECT_TRUE(o.LoggingOn()) << "a missing value reads as 1";
    EXPECT_EQ(o.TCPPort(), 1);
    EXPECT_EQ(o.ControlFunction(), "1");

    std::string value;
    EXPECT_TRUE(read_option_key(kOptionsPath, kHkeyUsers, "NISTServer", value));
    EXPECT_EQ(value, "time.example");
    EXPECT_FALSE(save_option_key("No\\Such\\Key", "a", "b"));
}

TEST_F(StoreTest, SettingsStoreHandlesTheSeventyOneStoredOptions) {
    COptions written;
    set_option_defaults(written);
    written.X10ComPort(3);
    written.Changed(true);
    written.msecTimeOffset(-12);
    written.TCPPort(4000);
    ASSERT_TRUE(RegistrySet(written, "Ktrsvc"));
    auto pairs = platform::get_all_settings("Ktrsvc", "Options");
    ASSERT_TRUE(pairs.has_value());
    EXPECT_EQ(pairs->size(), 71u);
    for (const auto& [name, value] : *pairs)
        EXPECT_TRUE(name != "X10ComPort" && name != "Changed" && name != "SystemStartup") << name;

    COptions read;
    ASSERT_TRUE(RegistryGet(read, "Ktrsvc"));
    EXPECT_EQ(read.TCPPort(), 4000);
    EXPECT_EQ(read.msecTimeOffset(), -12);
    EXPECT_EQ(read.X10ComPort(), 0);
    EXPECT_TRUE(logged("Name: _TCPPort_  Value:_4000_"));

    // Both families meet in the same key.
    COptions via_key_store;
    ASSERT_TRUE(Registry_Get(via_key_store, "Ktrsvc"));
    EXPECT_EQ(via_key_store.TCPPort(), 4000);
}

TEST_F(StoreTest, SetOptionValueMatchesNamesExactlyAndKeepsUnreadableValues) {
    COptions o;
    o.TCPPort(1001);
    o.TimedInterval(3600);
    o.LoggingOn(true);
    const std::pair<const char*, const char*> settings[] = {
        {"tcpport", "5"}, {"TimedInterval", "abc"}, {"X10ComPort", "4"}, {"LoggingOn", "maybe"},
        {"ServerName", "peer"}, {"SettingMode", "True"}};
    for (const auto& [name, value] : settings) set_option_value(name, value, o);
    EXPECT_EQ(o.TCPPort(), 1001);
    EXPECT_EQ(o.TimedInterval(), 3600);
    EXPECT_TRUE(logged("set_option_value: ERROR getting: TimedInterval_  Value:_abc_"));
    EXPECT_EQ(o.X10ComPort(), 0);  // not a stored option
    EXPECT_TRUE(o.LoggingOn());
    EXPECT_EQ(o.Servername(), "peer");
    EXPECT_EQ(o.SettingMode(), -1);
}

TEST_F(StoreTest, SyncValuesLandInTheOptionsSection) {
    COptions empty;
    EXPECT_FALSE(RegistryGet(empty, "Ktrsvc"));
    EXPECT_TRUE(logged("RegistryGet: All settings are empty."));
    ASSERT_TRUE(RegistrySyncSave(2.5f, 45000.5, -3, "Ktrsvc"));
    ASSERT_TRUE(RegistrySyncSettingSave(45001.25, "Ktrsvc"));
    EXPECT_EQ(platform::get_setting("Ktrsvc", "Options", "AutoPrevAccuracy"), "2.5");
    EXPECT_EQ(platform::get_setting("Ktrsvc", "Options", "AutoPrevDifference"), "-3");
    EXPECT_EQ(platform::get_setting("Ktrsvc", "Options", "AutoPrevSyncTime"), option_date_text(45000.5));
    EXPECT_EQ(platform::get_setting("Ktrsvc", "Options", "LastSyncTime"), option_date_text(45001.25));
    EXPECT_EQ(option_single_text(0.1f), "0.1");
}

TEST_F(StoreTest, ABrokenHiveMakesTheSettingsStoreFailLoudly) {
    dir.write("registry.db", std::string(4096, '\x7f'));
    platform::close_registry_hive();
    COptions o;
    o.TCPPort(9);
    EXPECT_FALSE(RegistryGet(o, "Ktrsvc"));
    EXPECT_EQ(o.TCPPort(), 9);
    EXPECT_FALSE(RegistrySet(o, "Ktrsvc"));
    EXPECT_TRUE(logged("can't write setting to registry"));
    EXPECT_FALSE(RegistrySyncSave(1.0f, 45000.0, 0, "Ktrsvc"));
    EXPECT_FALSE(RegistrySyncSettingSave(45000.0, "Ktrsvc"));
    EXPECT_EQ(dir.read("registry.db"), std::string(4096, '\x7f'));
}

TEST(OptionTexts, ConversionsBothWays) {
    EXPECT_EQ(option_value_text(false) + option_value_text(int16_t{-5}), "False-5");
    EXPECT_EQ(option_boolean("FALSE"), false);
    EXPECT_EQ(option_boolean("-1"), true);
    EXPECT_EQ(option_boolean(""), std::nullopt);
    EXPECT_EQ(option_integer(" 12 "), 12);
    EXPECT_EQ(option_integer("32768"), std::nullopt);
    EXPECT_EQ(option_long("2147483647"), 2147483647);
    EXPECT_EQ(option_long("x"), std::nullopt);
    // Dates go out in the local form and come back to the same second.
    const double when = 45000.0 + (7 * 3600 + 42 * 60 + 38) / 86400.0;
    ASSERT_TRUE(option_date(option_date_text(when)).has_value()) << option_date_text(when);
    EXPECT_NEAR(*option_date(option_date_text(when)), when, 1e-8);
    EXPECT_EQ(option_date("1"), std::nullopt) << "the reading of a missing value is no date";
}

} // namespace
} // namespace ktr::config
