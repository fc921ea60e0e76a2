#include <gtest/gtest.h>

#include <filesystem>

#include "fakes/scoped_env.h"
#include "fakes/temp_dir.h"
#include "platform/pending_error.h"
#include "platform/registry_hive.h"
#include "platform/settings_store.h"

namespace ktr::platform {
namespace {

using Values = std::vector<std::pair<std::string, RegValue>>;

class HiveTest : public ::testing::Test {
protected:
    testing::TempDir dir;
    std::string path = dir.file("registry.db");
    std::unique_ptr<RegistryHive> hive = open_registry_hive(path);

    void TearDown() override { clear_pending_error(); }
    RegKey create(uint32_t root, const std::string& key_path) {
        RegKey key;
        EXPECT_EQ(hive->create_key(root, key_path, key), kRegOk) << key_path;
        return key;
    }
    std::string text(uint32_t root, const std::string& key_path, const std::string& name) {
        RegKey key;
        if (hive->open_key(root, key_path, key) != kRegOk) return "<no key>";
        RegValue v;
        if (hive->query_value(key, name, v) != kRegOk) return "<no value>";
        return v.text();
    }
    Values values_of(RegistryHive& h, const RegKey& key) {
        Values values;
        EXPECT_EQ(h.enum_values(key, values), kRegOk);
        return values;
    }
    std::vector<std::string> subkeys_of(uint32_t root, const std::string& key_path) {
        RegKey key;
        std::vector<std::string> names;
        EXPECT_EQ(hive->open_key(root, key_path, key), kRegOk);
        EXPECT_EQ(hive->enum_subkeys(key, names), kRegOk);
        return names;
    }
};

TEST_F(HiveTest, CurrentUserIsTheDefaultUsersKey) {
    RegKey key = create(kHkeyCurrentUserRoot, "Software\\VB and VBA Program Settings\\Ktrsvc\\Options");
    ASSERT_EQ(hive->set_value(key, "Changed", RegValue::sz("True")), kRegOk);
    EXPECT_EQ(text(kHkeyUsersRoot, ".DEFAULT\\Software\\VB and VBA Program Settings\\Ktrsvc\\Options", "Changed"),
              "True");
    // The roots stay apart otherwise.
    EXPECT_EQ(text(kHkeyLocalMachineRoot, "Software\\VB and VBA Program Settings\\Ktrsvc\\Options", "Changed"),
              "<no key>");
    EXPECT_EQ(subkeys_of(kHkeyUsersRoot, ""), std::vector<std::string>{".DEFAULT"});
    EXPECT_EQ(registry_root_from_name("HKCU"), kHkeyCurrentUserRoot);
    EXPECT_EQ(registry_root_from_name("hkey_local_machine"), kHkeyLocalMachineRoot);
    EXPECT_EQ(registry_root_from_name("HKCR"), 0u);
}

TEST_F(HiveTest, OpenFindsOnlyExistingKeysAndBadNamesAreRefused) {
    RegKey key;
    EXPECT_EQ(hive->open_key(kHkeyUsersRoot, "nowhere\\at all", key), kRegNotFound);
    EXPECT_FALSE(key.is_open());
    EXPECT_EQ(pending_error().number, kRegNotFound);
    EXPECT_EQ(hive->open_key(kHkeyCurrentUserRoot, "", key), kRegOk) << "a root always exists";
    EXPECT_EQ(hive->open_key(0x80000005u, "x", key), kRegInvalidParameter);
    EXPECT_EQ(hive->create_key(kHkeyUsersRoot, "a\\\\b", key), kRegInvalidParameter);
    EXPECT_EQ(hive->delete_key(kHkeyUsersRoot, ""), kRegInvalidParameter);
    RegKey closed;
    RegValue v;
    EXPECT_EQ(hive->query_value(closed, "x", v), kRegInvalidHandle);
}

TEST_F(HiveTest, NamesCompareWithoutCaseAndValuesKeepTheirBytesTypesAndFirstSpellingAndPosition) {
    RegKey key = create(kHkeyLocalMachineRoot, "Software\\Zentrik\\Options");
    ASSERT_EQ(hive->set_value(key, "b", RegValue::sz("one")), kRegOk);
    ASSERT_EQ(hive->set_value(key, "a", RegValue::dword(0xFFFFFFFEu)), kRegOk);
    ASSERT_EQ(hive->set_value(key, "c", RegValue::sz(std::string("x\0y", 3))), kRegOk);
    ASSERT_EQ(hive->set_value(key, "B", RegValue::sz("two")), kRegOk);
    EXPECT_EQ(text(kHkeyLocalMachineRoot, "SOFTWARE\\zentrik\\OPTIONS", "b"), "two");
    EXPECT_EQ(subkeys_of(kHkeyLocalMachineRoot, "software"), std::vector<std::string>{"Zentrik"});
    const Values values = values_of(*hive, key);
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0].first, "b");
    EXPECT_EQ(values[0].second.data, std::string("two\0", 4)) << "string values carry their terminating NUL";
    EXPECT_EQ(values[1].second.type, kRegDword);
    EXPECT_EQ(values[1].second.number(), 0xFFFFFFFEu);
    EXPECT_EQ(values[2].second.text(), std::string("x\0y", 3)) << "only trailing NULs go";
    RegValue binary;
    binary.type = 3;
    EXPECT_EQ(hive->set_value(key, "bin", binary), kRegInvalidParameter);
}

TEST_F(HiveTest, DeletingAKeyTakesItsSubtreeButNotItsNamesakes) {
    RegKey opts = create(kHkeyUsersRoot, "app\\Options");
    RegKey other = create(kHkeyUsersRoot, "app\\Options2");
    ASSERT_EQ(hive->set_value(opts, "v", RegValue::sz("1")), kRegOk);
    ASSERT_EQ(hive->set_value(create(kHkeyUsersRoot, "app\\Options\\deep"), "v", RegValue::sz("2")), kRegOk);
    ASSERT_EQ(hive->set_value(other, "v", RegValue::sz("3")), kRegOk);

    ASSERT_EQ(hive->delete_key(kHkeyUsersRoot, "APP\\options"), kRegOk);
    EXPECT_EQ(text(kHkeyUsersRoot, "app\\Options\\deep", "v"), "<no key>");
    EXPECT_EQ(text(kHkeyUsersRoot, "app\\Options2", "v"), "3");
    EXPECT_EQ(hive->delete_key(kHkeyUsersRoot, "app\\Options"), kRegNotFound);
    // A key deleted while open: writes fail instead of leaving an orphan value.
    EXPECT_EQ(hive->set_value(opts, "v", RegValue::sz("again")), kRegKeyDeleted);
    ASSERT_EQ(hive->delete_value(other, "V"), kRegOk);
    EXPECT_EQ(hive->delete_value(other, "v"), kRegNotFound);
}

TEST_F(HiveTest, CommittedWritesSurviveAndOtherConnectionsSeeThem) {
    RegKey key = create(kHkeyUsersRoot, "shared");
    ASSERT_EQ(hive->set_value(key, "one", RegValue::sz("1")), kRegOk);
    auto second = open_registry_hive(path);
    RegKey key2;
    ASSERT_EQ(second->open_key(kHkeyUsersRoot, "shared", key2), kRegOk);
    RegValue v;
    ASSERT_EQ(second->query_value(key2, "one", v), kRegOk);
    // A batch shows nothing to others until it ends, then everything at once.
    {
        RegistryBatch batch(*hive);
        ASSERT_EQ(hive->set_value(key, "two", RegValue::sz("2")), kRegOk);
        ASSERT_EQ(hive->set_value(key, "three", RegValue::sz("3")), kRegOk);
        EXPECT_EQ(second->query_value(key2, "two", v), kRegNotFound);
    }
    EXPECT_EQ(second->query_value(key2, "three", v), kRegOk);
    hive.reset();
    second.reset();
    auto reopened = open_registry_hive(path);
    ASSERT_EQ(reopened->open_key(kHkeyUsersRoot, "SHARED", key2), kRegOk);
    EXPECT_EQ(values_of(*reopened, key2).size(), 3u);
}

TEST_F(HiveTest, AFileThatIsNoHiveIsReportedAndLeftAsItIsAndAnUnopenableOneSaysSo) {
    hive.reset();
    const std::string garbage(5000, '\x5a');
    dir.write("registry.db", garbage);
    auto broken = open_registry_hive(path);
    EXPECT_EQ(broken->status(), kRegBadDb);
    EXPECT_FALSE(broken->status_text().empty());
    RegKey key;
    EXPECT_EQ(broken->create_key(kHkeyUsersRoot, "x", key), kRegBadDb);
    EXPECT_NE(pending_error().description.find(path), std::string::npos);
    EXPECT_EQ(broken->open_key(kHkeyUsersRoot, "", key), kRegBadDb);
    EXPECT_FALSE(broken->begin_batch());
    broken.reset();
    EXPECT_EQ(dir.read("registry.db"), garbage);

    // Neither can a folder or a file in a missing folder be opened.
    std::filesystem::create_directory(dir.file("folder.db"));
    EXPECT_NE(open_registry_hive(dir.file("folder.db"))->status(), kRegOk);
    auto missing_folder = open_registry_hive(dir.file("no/such/folder/registry.db"));
    EXPECT_EQ(missing_folder->status(), kRegCantOpen);
    EXPECT_EQ(missing_folder->create_key(kHkeyUsersRoot, "x", key), kRegCantOpen);
}

// The settings store on the process's hive, in a folder of its own.
class SettingsStoreTest : public ::testing::Test {
protected:
    testing::TempDir dir;
    testing::ScopedEnv hive{"KTRSVC_REGISTRY", dir.file("registry.db").c_str()};
    void SetUp() override { close_registry_hive(); }
    void TearDown() override {
        close_registry_hive();
        clear_pending_error();
    }
};

TEST_F(SettingsStoreTest, SaveCreatesTheKeysAndGetReadsThemBack) {
    EXPECT_EQ(get_setting("Ktrsvc", "Options", "Changed", "False"), "False");
    EXPECT_EQ(get_all_settings("Ktrsvc", "Options"), SettingPairs{});
    ASSERT_TRUE(save_setting("Ktrsvc", "Options", "Changed", "True"));
    ASSERT_TRUE(save_setting("Ktrsvc", "Options", "TCPPort", "1001"));
    ASSERT_TRUE(save_setting("Ktrsvc", "Options", "changed", "False"));
    EXPECT_EQ(get_setting("Ktrsvc", "options", "CHANGED"), "False");

    RegKey key;
    ASSERT_EQ(registry_hive().open_key(kHkeyUsersRoot,
                                       ".DEFAULT\\Software\\VB and VBA Program Settings\\Ktrsvc\\Options", key),
              kRegOk);
    ASSERT_EQ(registry_hive().set_value(key, "Count", RegValue::dword(7)), kRegOk);
    const SettingPairs expected{{"Changed", "False"}, {"TCPPort", "1001"}, {"Count", "7"}};
    EXPECT_EQ(get_all_settings("Ktrsvc", "Options"), expected);
}

} // namespace
} // namespace ktr::platform
