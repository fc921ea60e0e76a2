// The options, their defaults, and their stores in the registry.
#include <gtest/gtest.h>

#include <filesystem>

#include "config/option_store.h"
#include "config/options.h"
#include "config/program.h"
#include "config/registry_tools.h"
#include "fakes/module_state.h"
#include "platform/date_value.h"
#include "platform/files.h"
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
    static std::string option_value(const char* name) { return value_of(kOptionsPath, kHkeyUsers, name); }
    // Windows stores short (8.3) forms of paths.
    static bool same_file(const std::string& a, const std::string& b) {
        std::error_code ec;
        return std::filesystem::equivalent(a, b, ec);
    }
};

TEST_F(StoreTest, WrapperOpensOnlyExistingKeysAndReadsBackWhatItWrote) {
    static const std::string kHere = "Software\\Here";
    const auto set = [](auto name, auto v, int type) { return SetKeyValue(kHere, kHkeyLocalMachine, name, v, type); };
    EXPECT_FALSE(set("v", "x", kRegTypeString));
    EXPECT_EQ(value_of(kHere, kHkeyLocalMachine, "v"), "<none>");
    ASSERT_TRUE(CreateNewKey(kHere, kHkeyLocalMachine));
    EXPECT_TRUE(set("n", "-7", kRegTypeNumber));
    EXPECT_TRUE(set("s", std::string("abc\0\0", 5), kRegTypeString));
    // A number that does not convert is a failed write, but the key was opened.
    EXPECT_TRUE(set("n", "many", kRegTypeNumber));
    EXPECT_EQ(value_of(kHere, kHkeyLocalMachine, "n"), "-7");
    EXPECT_EQ(value_of(kHere, kHkeyLocalMachine, "s"), "abc") << "a string read back keeps no trailing NUL";
    // A missing path has no short form; an existing one names the same file (on POSIX it is the path itself).
    EXPECT_EQ(GetShortNameFromLongName(dir_.file("nothing/here.exe")), "");
    EXPECT_TRUE(same_file(GetShortNameFromLongName(dir_.path()), dir_.path()));
}

TEST_F(StoreTest, StartupEntryIsWrittenOnlyOverNothingOrItself) {
    const auto run = [] { return value_of(kNtRunKey, kHkeyCurrentUser, "run"); };
    ASSERT_TRUE(CreateNewKey(kNtRunKey, kHkeyCurrentUser));
    // Without the background program there is nothing to start, and an empty entry is not ours.
    SaveStartupRegistrySetting(true, "Ktrsvc");
    EXPECT_FALSE(check_startup_entry("Ktrsvc"));
    dir_.write("ZntrkBkg.exe", "");
    SaveStartupRegistrySetting(true, "Ktrsvc");
    EXPECT_TRUE(check_startup_entry("Ktrsvc") && same_file(run(), dir_.file("ZntrkBkg.exe"))) << run();
    SaveStartupRegistrySetting(false, "Ktrsvc");
    EXPECT_EQ(run(), "");
    ASSERT_TRUE(SetKeyValue(kNtRunKey, kHkeyCurrentUser, "run", "other.exe", kRegTypeString));
    SaveStartupRegistrySetting(true, "Ktrsvc");
    SaveStartupRegistrySetting(false, "Ktrsvc");
    remove_startup_entry("Ktrsvc");
    EXPECT_TRUE(run() == "other.exe" && !check_startup_entry("Ktrsvc")) << run();
}

TEST_F(StoreTest, KeyStoreMissingAndBadValuesThenItsOwnListWrittenAndReadBack) {
    COptions o;
    set_option_defaults(o);
    EXPECT_FALSE(key_store::Registry_Get(o, "Ktrsvc")) << "no key at all";
    ASSERT_TRUE(CreateNewKey(kOptionsPath, kHkeyUsers) && key_store::save_option_key(kOptionsPath, "NISTServer", "x"));
    EXPECT_FALSE(key_store::Registry_Get(o, "Ktrsvc")) << "a one-character server counts as empty";
    EXPECT_EQ(o.TCPPort(), 1001);
    for (const auto& [name, value] : {std::pair{"NISTServer", "time.example"}, {"TimedInterval", "often"},
                                      {"SetMaxThreshold", "2.5"}, {"SetMinThreshold", "3.5"},
                                      {"ServerPort", "99999"}, {"GraphOn", "0"}})
        ASSERT_TRUE(key_store::save_option_key(kOptionsPath, name, value));
    ASSERT_TRUE(key_store::Registry_Get(o, "Ktrsvc"));
    // Text that is no number is kept, halves go to the even neighbour, a port out of the 16-bit range is kept;
    // a missing value reads as 1.
    EXPECT_EQ((std::vector<int32_t>{o.TimedInterval(), o.SetMaxThreshold(), o.SetMinThreshold(), o.ServerPort(),
                                    o.TCPPort(), o.GraphOn(), o.LoggingOn()}),
              (std::vector<int32_t>{3600, 2, 4, 1001, 1, false, true}));
    set_option_defaults(o);
    o.TCPPort(2000), o.Servername("peer"), o.NISTServer("a, b"), o.msecTimeOffset(55);  // the last is never stored
    ASSERT_TRUE(key_store::Registry_Set(kOptionsPath, o));
    EXPECT_EQ(option_value("ServerName") + " " + option_value("Changed"), "peer True");
    for (const char* name : {"msecTimeOffset", "LastSyncTime", "DisplayCliViewAll"})
        EXPECT_EQ(option_value(name), "<none>") << name;
    COptions read;
    ASSERT_TRUE(key_store::Registry_Get(read, "Ktrsvc"));
    EXPECT_TRUE(read.TCPPort() == 2000 && read.NISTServer() == "a, b" && read.msecTimeOffset() == 0);
}

TEST_F(StoreTest, SettingsStoreKeepsItsOwnListInTheSameKey) {
    COptions written, read, via_key_store;
    set_option_defaults(written);
    written.X10ComPort(3), written.msecTimeOffset(-12), written.TCPPort(4000);
    ASSERT_TRUE(app_settings::RegistrySet(written, "Ktrsvc"));
    const auto stored = platform::get_all_settings("Ktrsvc", "Options");
    ASSERT_TRUE(stored);
    for (const auto& [name, value] : *stored)
        EXPECT_TRUE(name != "X10ComPort" && name != "Changed" && name != "SystemStartup") << name;
    ASSERT_TRUE(app_settings::RegistryGet(read, "Ktrsvc") && key_store::Registry_Get(via_key_store, "Ktrsvc"));
    EXPECT_EQ((std::vector<int32_t>{read.TCPPort(), via_key_store.TCPPort(), read.msecTimeOffset(), read.X10ComPort()}),
              (std::vector<int32_t>{4000, 4000, -12, 0}));
    // Dates go out in the local form and come back to the same second.
    const double when = 45000.0 + (7 * 3600 + 42 * 60 + 38) / 86400.0;
    ASSERT_TRUE(app_settings::RegistrySyncSave(2.5f, when, -3, "Ktrsvc") &&
                app_settings::RegistrySyncSettingSave(when, "Ktrsvc") && app_settings::RegistryGet(read, "Ktrsvc"));
    EXPECT_NEAR(read.LastSyncTime(), when, 1e-8);
    EXPECT_NEAR(read.AutoPrevSyncTime(), when, 1e-8);
    EXPECT_EQ(platform::get_setting("Ktrsvc", "Options", "AutoPrevAccuracy"), "2.5");
}

// An Options key the module cannot use (on Windows one it may not use: the registry has no file to damage)
// fails every call of the settings store and is kept as it was.
TEST_F(StoreTest, AnOptionsStoreThatCannotBeUsedFailsEveryCallAndIsKeptAsItWas) {
#ifdef _WIN32
    ASSERT_TRUE(platform::save_setting("Ktrsvc", "Options", "TCPPort", "2000"));
    ASSERT_TRUE(registry_.deny(platform::kHkeyUsersRoot, kOptionsPath));
#else
    const std::string garbage(4096, '\x7f');
    dir_.write("registry.db", garbage);
#endif
    COptions o;
    o.TCPPort(9);
    EXPECT_FALSE(app_settings::RegistryGet(o, "Ktrsvc") || app_settings::RegistrySet(o, "Ktrsvc") ||
                 app_settings::RegistrySyncSave(1.0f, 45000.0, 0, "Ktrsvc") ||
                 app_settings::RegistrySyncSettingSave(45000.0, "Ktrsvc"));
    EXPECT_TRUE(o.TCPPort() == 9 && traced("can't write setting to registry"));
#ifdef _WIN32
    registry_.allow_all();
    EXPECT_EQ(option_value("TCPPort"), "2000");
#else
    EXPECT_EQ(dir_.read("registry.db"), garbage);
#endif
}

using Options = testing::ModuleStateTest;

TEST_F(Options, DefaultsDateTheLastSyncADayBackAndNameTheFilesInTheProgramFolder) {
    platform::set_program_folder("/Opt/Ktr Svc");
    COptions o;
    set_option_defaults(o);
    EXPECT_DOUBLE_EQ(o.LastSyncTime(), kMorning - 1);  // a day ago
    EXPECT_EQ(o.AutoPrevSyncTime(), o.LastSyncTime());
    // The folder keeps its case (case-sensitive file systems); the names are lower case.
    EXPECT_EQ(o.LoggingFileName(), platform::join_path("/Opt/Ktr Svc", "logfile.txt"));
    EXPECT_EQ(o.ScheduleFileName(), platform::join_path("/Opt/Ktr Svc", "events.txt"));
}

} // namespace
} // namespace ktr::config
