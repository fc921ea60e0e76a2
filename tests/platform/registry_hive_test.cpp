#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "fakes/private_registry.h"
#include "fakes/scoped_env.h"
#include "fakes/temp_dir.h"
#include "platform/pending_error.h"
#include "platform/registry_hive.h"
#include "platform/settings_store.h"
#include "platform/text.h"

namespace ktr::platform {
namespace {

using Values = std::vector<std::pair<std::string, RegValue>>;
using Names = std::vector<std::string>;
const char* const kOptions = "Software\\VB and VBA Program Settings\\Ktrsvc\\Options";

struct HiveTest : ::testing::Test {
    testing::TempDir dir;
    testing::PrivateRegistry registry{std::filesystem::path(dir.path()).filename().string()};
    std::string path = dir.file("registry.db");
    std::unique_ptr<RegistryHive> hive = open_registry_hive(path);

    void TearDown() override { clear_pending_error(); }
    RegKey create(uint32_t root, const std::string& key_path) {
        RegKey key;
        EXPECT_EQ(hive->create_key(root, key_path, key), kRegOk) << key_path;
        return key;
    }
    // The value's text, or what is missing.
    std::string text(uint32_t root, const std::string& key_path, const std::string& name) {
        RegKey key;
        RegValue v;
        if (hive->open_key(root, key_path, key) != kRegOk) return "<no key>";
        return hive->query_value(key, name, v) == kRegOk ? v.text() : "<no value>";
    }
    template <class List>
    List listed(RegistryHive& h, uint32_t root, const std::string& key_path) {
        RegKey key;
        List list;
        EXPECT_EQ(h.open_key(root, key_path, key), kRegOk);
        if constexpr (std::is_same_v<List, Values>) EXPECT_EQ(h.enum_values(key, list), kRegOk);
        else EXPECT_EQ(h.enum_subkeys(key, list), kRegOk);
        return list;
    }
};

TEST_F(HiveTest, CurrentUserIsTheDefaultUsersKeyRootsStayApartAndBadNamesAreRefused) {
    ASSERT_EQ(hive->set_value(create(kHkeyCurrentUserRoot, kOptions), "Changed", RegValue::sz("True")), kRegOk);
    EXPECT_EQ(text(kHkeyUsersRoot, std::string(".DEFAULT\\") + kOptions, "Changed"), "True");
    EXPECT_EQ(text(kHkeyLocalMachineRoot, kOptions, "Changed"), "<no key>");
    EXPECT_EQ(listed<Names>(*hive, kHkeyUsersRoot, ""), Names{".DEFAULT"});
    for (const auto& [name, root] :
         {std::pair{"HKCU", kHkeyCurrentUserRoot}, {"hkey_local_machine", kHkeyLocalMachineRoot}, {"HKCR", 0u}})
        EXPECT_EQ(registry_root_from_name(name), root) << name;

    // Open finds only existing keys; bad names and handles are refused.
    RegKey key, closed;
    RegValue v;
    EXPECT_EQ(hive->open_key(kHkeyUsersRoot, "nowhere\\at all", key), kRegNotFound);
    EXPECT_FALSE(key.is_open());
    EXPECT_EQ(pending_error().number, kRegNotFound);
    EXPECT_EQ(hive->open_key(kHkeyCurrentUserRoot, "", key), kRegOk) << "a root always exists";
    EXPECT_EQ(hive->open_key(0x80000005u, "x", key), kRegInvalidParameter);
    EXPECT_EQ(hive->create_key(kHkeyUsersRoot, "a\\\\b", key), kRegInvalidParameter);
    EXPECT_EQ(hive->delete_key(kHkeyUsersRoot, ""), kRegInvalidParameter);
#ifdef _WIN32
    // On a real system that would empty the system account's profile.
    EXPECT_EQ(hive->delete_key(kHkeyCurrentUserRoot, "\\"), kRegInvalidParameter);
    EXPECT_EQ(hive->delete_key(kHkeyUsersRoot, ".default"), kRegInvalidParameter);
    EXPECT_EQ(listed<Names>(*hive, kHkeyUsersRoot, ""), Names{".DEFAULT"});
#endif
    EXPECT_EQ(hive->query_value(closed, "x", v), kRegInvalidHandle);
    RegValue binary;
    binary.type = 3;
    EXPECT_EQ(hive->set_value(key, "bin", binary), kRegInvalidParameter);
}

TEST_F(HiveTest, NamesCompareWithoutCaseAndValuesKeepTheirBytesTypesAndFirstSpellingAndPosition) {
    RegKey key = create(kHkeyLocalMachineRoot, "Software\\Zentrik\\Options");
    for (const auto& [name, value] : Values{{"b", RegValue::sz("one")}, {"a", RegValue::dword(0xFFFFFFFEu)},
                                            {"c", RegValue::sz(std::string("x\0y", 3))}, {"B", RegValue::sz("two")}})
        ASSERT_EQ(hive->set_value(key, name, value), kRegOk);
    EXPECT_EQ(text(kHkeyLocalMachineRoot, "SOFTWARE\\zentrik\\OPTIONS", "b"), "two");
    EXPECT_EQ(listed<Names>(*hive, kHkeyLocalMachineRoot, "software"), Names{"Zentrik"});
    Values values = listed<Values>(*hive, kHkeyLocalMachineRoot, "Software\\Zentrik\\Options");
    ASSERT_EQ(values.size(), 3u);
#ifdef _WIN32
    // The registry keeps its own order: Windows lists values as written, Wine by name.
    const auto position = [](const std::string& name) { return name == "b" ? 0 : name == "a" ? 1 : 2; };
    std::sort(values.begin(), values.end(),
              [&](const auto& x, const auto& y) { return position(x.first) < position(y.first); });
#endif
    EXPECT_EQ(values[0].first, "b");
    EXPECT_EQ(values[0].second.data, std::string("two\0", 4)) << "string values carry their terminating NUL";
    EXPECT_EQ(values[1].second.type, kRegDword);
    EXPECT_EQ(values[1].second.number(), 0xFFFFFFFEu);
    EXPECT_EQ(values[2].second.text(), std::string("x\0y", 3)) << "only trailing NULs go";
}

TEST_F(HiveTest, DeletingAKeyTakesItsSubtreeButNotItsNamesakes) {
    RegKey opts = create(kHkeyUsersRoot, "app\\Options"), other = create(kHkeyUsersRoot, "app\\Options2");
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

// That they survive a restart is seen where the module starts twice.
TEST_F(HiveTest, OtherConnectionsSeeCommittedWritesAndABatchAtItsEnd) {
    RegKey key = create(kHkeyUsersRoot, "shared");
    ASSERT_EQ(hive->set_value(key, "one", RegValue::sz("1")), kRegOk);
#ifdef _WIN32
    // The module and its tools may spell the same file another way: it is still one hive.
    std::string respelled;
    for (const char c : to_upper(path)) respelled += c == '\\' ? "/" : c == '/' ? "\\\\" : std::string(1, c);
    auto second = open_registry_hive(respelled);
#else
    auto second = open_registry_hive(path);
#endif
    const auto seen = [&] { return listed<Values>(*second, kHkeyUsersRoot, "shared").size(); };
    EXPECT_EQ(seen(), 1u);
    {
        RegistryBatch batch(*hive);
        ASSERT_EQ(hive->set_value(key, "two", RegValue::sz("2")), kRegOk);
        ASSERT_EQ(hive->set_value(key, "three", RegValue::sz("3")), kRegOk);
        EXPECT_EQ(seen(), 1u) << "nothing shows before the batch ends";
    }
    EXPECT_EQ(seen(), 3u);
}

// A hive that cannot be used is reported by every call. The registry has no file to damage: there a tree
// that cannot be made or opened stands for it. That such a file stays as it was is checked where the
// option store meets it.
TEST_F(HiveTest, AHiveThatCannotBeOpenedIsReportedByEveryCall) {
    hive.reset();
#ifdef _WIN32
    ASSERT_TRUE(registry.deny_own("locked"));
    const std::string own = "HKEY_CURRENT_USER\\" + registry.key();
    const std::pair<std::string, int32_t> rows[] = {{own + "\\locked", kRegAccessDenied}, {"HKEY_NOWHERE\\x", kRegCantOpen}};
#else
    dir.write("registry.db", std::string(5000, '\x5a'));
    std::filesystem::create_directory(dir.file("folder.db"));
    const std::pair<std::string, int32_t> rows[] = {
        {path, kRegBadDb}, {dir.file("folder.db"), kRegCantOpen}, {dir.file("no/such/folder/registry.db"), kRegCantOpen}};
#endif
    RegKey key;
    for (const auto& [where, status] : rows) {
#ifdef _WIN32
        testing::ScopedEnv env{"KTRSVC_REGISTRY_SANDBOX", where.c_str()};
        auto broken = open_registry_hive(path);
#else
        auto broken = open_registry_hive(where);
#endif
        EXPECT_EQ(broken->status(), status) << where;
        EXPECT_EQ(broken->create_key(kHkeyUsersRoot, "x", key), status) << where;
        EXPECT_NE(pending_error().description.find(where), std::string::npos) << pending_error().description;
        EXPECT_NE(broken->file_path().find(where), std::string::npos) << broken->file_path();
        EXPECT_EQ(broken->open_key(kHkeyUsersRoot, "", key), status) << where;
        EXPECT_FALSE(broken->begin_batch());
    }
}

#ifdef _WIN32
// Without a private tree the hive is the system's registry: the current user's keys are HKEY_USERS\.DEFAULT's,
// whoever runs the program, and text is the registry's own UTF-16 both ways.
TEST_F(HiveTest, TheSystemRegistryKeepsTheCurrentUsersKeysUnderTheDefaultUser) {
    namespace system = testing::system_registry;
    testing::ScopedEnv no_sandbox{"KTRSVC_REGISTRY_SANDBOX", nullptr};
    auto real = open_registry_hive("no file is used");
    ASSERT_EQ(real->status(), kRegOk) << real->status_text();
    EXPECT_EQ(real->file_path(), "HKEY_USERS\\.DEFAULT");
    const std::string key_path = "Software\\Ktrsvc test " + dir.path().substr(dir.path().find_last_of("\\/") + 1);
    const std::string default_path = ".DEFAULT\\" + key_path;
    testing::OnScopeEnd remove([&] {
        system::delete_tree(kHkeyUsersRoot, default_path);
        system::delete_tree(kHkeyCurrentUserRoot, key_path);
    });
    // A key of the same name in the caller's own profile is not the one the hive sees.
    ASSERT_TRUE(system::set_text(kHkeyCurrentUserRoot, key_path, "Own", L"x"));
    RegKey key;
    ASSERT_EQ(real->create_key(kHkeyCurrentUserRoot, key_path, key), kRegOk);
    RegValue v;
    EXPECT_EQ(real->query_value(key, "Own", v), kRegNotFound);
    ASSERT_EQ(real->set_value(key, "City", RegValue::sz("Z\u00fcrich \u2713")), kRegOk);
    ASSERT_EQ(real->set_value(key, "Count", RegValue::dword(7)), kRegOk);

    const std::wstring city = L"Z\u00fcrich \u2713";
    EXPECT_EQ(system::value(kHkeyUsersRoot, default_path, "City"),
              std::pair(kRegSz, std::string(reinterpret_cast<const char*>(city.c_str()), (city.size() + 1) * 2)));
    EXPECT_EQ(system::value(kHkeyUsersRoot, default_path, "Count"), std::pair(kRegDword, std::string("\7\0\0\0", 4)));
    // What another program writes reads back as UTF-8.
    ASSERT_TRUE(system::set_text(kHkeyUsersRoot, default_path, "Greeting", L"Gr\u00fc\u00dfe"));
    ASSERT_EQ(real->query_value(key, "greeting", v), kRegOk);
    EXPECT_EQ(v.data, std::string("Gr\u00fc\u00dfe") + '\0');

    ASSERT_EQ(real->delete_key(kHkeyUsersRoot, default_path), kRegOk);
    EXPECT_FALSE(system::exists(kHkeyUsersRoot, default_path));
    EXPECT_TRUE(system::exists(kHkeyCurrentUserRoot, key_path));
}

// A key the program may not read is reported, its defaults are used, and it stays as it was.
TEST_F(HiveTest, AKeyThatCannotBeReadIsReportedAndTheSettingsStoreUsesItsDefaults) {
    testing::ScopedEnv process_hive{"KTRSVC_REGISTRY", path.c_str()};
    testing::OnScopeEnd close_after([] { close_registry_hive(); });
    close_registry_hive();
    hive.reset();
    ASSERT_TRUE(save_setting("Ktrsvc", "Options", "Changed", "True"));
    ASSERT_TRUE(registry.deny(kHkeyCurrentUserRoot, kOptions));

    RegKey key;
    EXPECT_EQ(registry_hive().open_key(kHkeyCurrentUserRoot, kOptions, key), kRegAccessDenied);
    EXPECT_NE(pending_error().description.find(std::string("HKEY_CURRENT_USER\\") + kOptions), std::string::npos)
        << pending_error().description;
    EXPECT_EQ(get_setting("Ktrsvc", "Options", "Changed", "False"), "False");
    EXPECT_EQ(get_all_settings("Ktrsvc", "Options"), std::nullopt) << "unreadable is not empty";
    EXPECT_FALSE(save_setting("Ktrsvc", "Options", "Changed", "False"));
    EXPECT_FALSE(delete_setting("Ktrsvc", "Options", ""));
    registry.allow_all();
    EXPECT_EQ(get_setting("Ktrsvc", "Options", "Changed", "False"), "True");
}
#endif

} // namespace
} // namespace ktr::platform
