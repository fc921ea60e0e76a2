#include <gtest/gtest.h>

#include "config/option_store.h"
#include "config/program.h"
#include "config/registry_tools.h"
#include "fakes/module_state.h"
#include "platform/settings_store.h"

namespace ktr::config {
namespace {

const std::string kOptionsPath = ".DEFAULT\\Software\\VB and VBA Program Settings\\Ktrsvc\\Options";

// The key store pointed at the Options key of the test's own hive.
class StoreTest : public testing::ModuleStateTest {
protected:
    StoreTest() { program().options_key = kOptionsPath; }
    // A stored value as the registry wrapper reads it, "<none>" when there is none.
    static std::string value_of(std::string_view key, uint32_t root, const char* name) {
        std::string value = "<none>";
        QueryValue(key, root, name, value);
        return value;
    }
};

TEST_F(StoreTest, WrapperOpensOnlyExistingKeysAndReadsBackWhatItWrote) {
    static const std::string kHere = "Software\\Here";
    const auto set = [](auto name, auto v, int type) { return SetKeyValue(kHere, kHkeyLocalMachine, name, v, type); };
    const auto query = [](auto name, std::string& v) { return QueryValue(kHere, kHkeyLocalMachine, name, v); };
    std::string value = "untouched";
    EXPECT_FALSE(set("v", "x", kRegTypeString));
    EXPECT_TRUE(traced("Error Opening key: v, setting: x"));
    EXPECT_FALSE(query("v", value));
    EXPECT_EQ(value, "untouched");

    ASSERT_TRUE(CreateNewKey(kHere, kHkeyLocalMachine));
    EXPECT_TRUE(set("n", "-7", kRegTypeNumber));
    EXPECT_TRUE(set("s", std::string("abc\0\0", 5), kRegTypeString));
    // A number that does not convert is a failed write, but the key was opened.
    EXPECT_TRUE(set("n", "many", kRegTypeNumber));
    EXPECT_TRUE(traced("Error Setting value of key: Software\\Here"));
    ASSERT_TRUE(query("n", value));
    EXPECT_EQ(value, "-7");
    ASSERT_TRUE(query("s", value));
    EXPECT_EQ(value, "abc") << "a string read back keeps no trailing NUL";
    EXPECT_EQ(strip_trailing_nuls(std::string("a\0b\0", 4)), std::string("a\0b", 3));
    EXPECT_EQ(GetShortNameFromLongName(dir_.file("nothing/here.exe")), "");
    EXPECT_EQ(GetShortNameFromLongName(dir_.path()), dir_.path());
}

TEST_F(StoreTest, StartupEntryIsWrittenOnlyOverNothingOrItself) {
    const auto run = [] { return value_of(kNtRunKey, kHkeyCurrentUser, "run"); };
    ASSERT_TRUE(CreateNewKey(kNtRunKey, kHkeyCurrentUser));
    // Without the background program there is nothing to start, and an empty entry is not ours.
    SaveStartupRegistrySetting(true, "Ktrsvc");
    EXPECT_FALSE(check_startup_entry("Ktrsvc"));

    dir_.write("ZntrkBkg.exe", "");
    SaveStartupRegistrySetting(true, "Ktrsvc");
    EXPECT_TRUE(check_startup_entry("Ktrsvc"));
    EXPECT_EQ(run(), dir_.file("ZntrkBkg.exe"));
    SaveStartupRegistrySetting(false, "Ktrsvc");
    EXPECT_EQ(run(), "");

    ASSERT_TRUE(SetKeyValue(kNtRunKey, kHkeyCurrentUser, "run", "other.exe", kRegTypeString));
    SaveStartupRegistrySetting(true, "Ktrsvc");
    EXPECT_TRUE(traced("Cant set the auto startup action"));
    SaveStartupRegistrySetting(false, "Ktrsvc");
    remove_startup_entry("Ktrsvc");
    EXPECT_EQ(run(), "other.exe");
    EXPECT_FALSE(check_startup_entry("Ktrsvc"));
}

TEST_F(StoreTest, KeyStoreWritesTextValuesAndReadsBackItsOwnList) {
    COptions written;
    set_option_defaults(written);
    written.TCPPort(2000);
    written.NISTServer("a, b");
    written.Servername("peer");
    written.msecTimeOffset(55);  // never stored by the key store
    ASSERT_TRUE(CreateNewKey(kOptionsPath, kHkeyUsers));
    ASSERT_TRUE(key_store::Registry_Set(kOptionsPath, written));

    EXPECT_EQ(value_of(kOptionsPath, kHkeyUsers, "ServerName"), "peer");
    EXPECT_EQ(value_of(kOptionsPath, kHkeyUsers, "Changed"), "True");
    for (const char* name : {"msecTimeOffset", "LastSyncTime", "DisplayCliViewAll"})
        EXPECT_EQ(value_of(kOptionsPath, kHkeyUsers, name), "<none>") << name;

    COptions read;
    read.GraphClientOpts("kept");  // written but not read back
    ASSERT_TRUE(key_store::Registry_Get(read, "Ktrsvc"));
    EXPECT_EQ(read.TCPPort(), 2000);
    EXPECT_EQ(read.NISTServer(), "a, b");
    EXPECT_EQ(read.GraphClientOpts(), "kept");
    EXPECT_EQ(read.msecTimeOffset(), 0);
}

TEST_F(StoreTest, KeyStoreMissingAndBadValues) {
    COptions o;
    o.TCPPort(7);
    EXPECT_FALSE(key_store::Registry_Get(o, "Ktrsvc")) << "no key at all";
    EXPECT_EQ(o.TCPPort(), 7);
    EXPECT_TRUE(traced("RegistryGet: All settings are empty."));

    ASSERT_TRUE(CreateNewKey(kOptionsPath, kHkeyUsers));
    ASSERT_TRUE(key_store::save_option_key(kOptionsPath, "NISTServer", "x"));
    EXPECT_FALSE(key_store::Registry_Get(o, "Ktrsvc")) << "a one-character server counts as empty";

    for (const auto& [name, value] : {std::pair{"NISTServer", "time.example"}, {"TimedInterval", "often"},
                                      {"SetMaxThreshold", "2.5"}, {"SetMinThreshold", "3.5"},
                                      {"ServerPort", "99999"}, {"GraphOn", "0"}})
        ASSERT_TRUE(key_store::save_option_key(kOptionsPath, name, value));
    o.TimedInterval(3600);
    o.ServerPort(1001);
    ASSERT_TRUE(key_store::Registry_Get(o, "Ktrsvc"));
    EXPECT_EQ(o.TimedInterval(), 3600);
    EXPECT_EQ(o.SetMaxThreshold(), 2) << "halves go to the even neighbour";
    EXPECT_EQ(o.SetMinThreshold(), 4);
    EXPECT_EQ(o.ServerPort(), 1001) << "out of the 16-bit range";
    EXPECT_FALSE(o.GraphOn());
    EXPECT_TRUE(o.LoggingOn()) << "a missing value reads as 1";
    EXPECT_EQ(o.TCPPort(), 1);
    EXPECT_FALSE(key_store::save_option_key("No\\Such\\Key", "a", "b"));
}

TEST_F(StoreTest, SettingsStoreKeepsItsOwnListInTheSameKey) {
    COptions written;
    set_option_defaults(written);
    written.X10ComPort(3);
    written.msecTimeOffset(-12);
    written.TCPPort(4000);
    ASSERT_TRUE(app_settings::RegistrySet(written, "Ktrsvc"));
    auto pairs = platform::get_all_settings("Ktrsvc", "Options");
    ASSERT_TRUE(pairs.has_value());
    EXPECT_EQ(pairs->size(), 71u);
    for (const auto& [name, value] : *pairs)
        EXPECT_TRUE(name != "X10ComPort" && name != "Changed" && name != "SystemStartup") << name;

    COptions read, via_key_store;
    ASSERT_TRUE(app_settings::RegistryGet(read, "Ktrsvc"));
    EXPECT_EQ(read.TCPPort(), 4000);
    EXPECT_EQ(read.msecTimeOffset(), -12);
    EXPECT_EQ(read.X10ComPort(), 0);
    ASSERT_TRUE(key_store::Registry_Get(via_key_store, "Ktrsvc"));
    EXPECT_EQ(via_key_store.TCPPort(), 4000);

    // Dates go out in the local form and come back to the same second.
    const double when = 45000.0 + (7 * 3600 + 42 * 60 + 38) / 86400.0;
    ASSERT_TRUE(app_settings::RegistrySyncSave(2.5f, when, -3, "Ktrsvc"));
    ASSERT_TRUE(app_settings::RegistrySyncSettingSave(when, "Ktrsvc"));
    ASSERT_TRUE(app_settings::RegistryGet(read, "Ktrsvc"));
    EXPECT_NEAR(read.LastSyncTime(), when, 1e-8);
    EXPECT_NEAR(read.AutoPrevSyncTime(), when, 1e-8);
    EXPECT_EQ(platform::get_setting("Ktrsvc", "Options", "AutoPrevAccuracy"), "2.5");
}

TEST_F(StoreTest, SetOptionValueMatchesNamesExactlyAndKeepsUnreadableValues) {
    COptions o;
    o.TCPPort(1001);
    o.TimedInterval(3600);
    o.LoggingOn(true);
    for (const auto& [name, value] : {std::pair{"tcpport", "5"}, {"TimedInterval", "abc"}, {"X10ComPort", "4"},
                                      {"LoggingOn", "maybe"}, {"ServerName", "peer"}, {"SettingMode", "True"}})
        set_option_value(name, value, o);
    EXPECT_EQ(o.TCPPort(), 1001);
    EXPECT_TRUE(traced("set_option_value:  CASE ElseParam: tcpport"));
    EXPECT_EQ(o.TimedInterval(), 3600);
    EXPECT_TRUE(traced("set_option_value: ERROR getting: TimedInterval_  Value:_abc_"));
    EXPECT_EQ(o.X10ComPort(), 0);  // not a stored option
    EXPECT_TRUE(o.LoggingOn());
    EXPECT_EQ(o.Servername(), "peer");
    EXPECT_EQ(o.SettingMode(), -1);
}

TEST_F(StoreTest, ABrokenHiveMakesTheSettingsStoreFailAndIsNeverReplaced) {
    const std::string garbage(4096, '\x7f');
    dir_.write("registry.db", garbage);
    COptions o;
    o.TCPPort(9);
    EXPECT_FALSE(app_settings::RegistryGet(o, "Ktrsvc"));
    EXPECT_EQ(o.TCPPort(), 9);
    EXPECT_FALSE(app_settings::RegistrySet(o, "Ktrsvc"));
    EXPECT_TRUE(traced("can't write setting to registry"));
    EXPECT_FALSE(app_settings::RegistrySyncSave(1.0f, 45000.0, 0, "Ktrsvc"));
    EXPECT_FALSE(app_settings::RegistrySyncSettingSave(45000.0, "Ktrsvc"));
    EXPECT_EQ(dir_.read("registry.db"), garbage);
}

} // namespace
} // namespace ktr::config
