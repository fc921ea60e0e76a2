#include "platform/settings_store.h"

#include <string>

#include "platform/registry_hive.h"

namespace ktr::platform {
namespace {

std::string value_text(const RegValue& v) {
    if (v.type == kRegDword) return std::to_string(v.number());
    return v.text();
}

} // namespace

std::string settings_key_path(std::string_view application, std::string_view section) {
    std::string path = "Software\\VB and VBA Program Settings\\";
    path += application;
    path += '\\';
    path += section;
    return path;
}

std::string get_setting(std::string_view application, std::string_view section, std::string_view name,
                        std::string_view default_value) {
    RegistryHive& hive = registry_hive();
    RegKey key;
    if (hive.open_key(kHkeyCurrentUserRoot, settings_key_path(application, section), key) != kRegOk)
        return std::string(default_value);
    RegValue v;
    const int32_t rc = hive.query_value(key, name, v);
    hive.close_key(key);
    if (rc != kRegOk) return std::string(default_value);
    return value_text(v);
}

bool save_setting(std::string_view application, std::string_view section, std::string_view name,
                  std::string_view value) {
    RegistryHive& hive = registry_hive();
    RegKey key;
    if (hive.create_key(kHkeyCurrentUserRoot, settings_key_path(application, section), key) != kRegOk) return false;
    const int32_t rc = hive.set_value(key, name, RegValue::sz(value));
    hive.close_key(key);
    return rc == kRegOk;
}

std::optional<SettingPairs> get_all_settings(std::string_view application, std::string_view section) {
    RegistryHive& hive = registry_hive();
    RegKey key;
    const int32_t open_rc = hive.open_key(kHkeyCurrentUserRoot, settings_key_path(application, section), key);
    if (open_rc == kRegNotFound) return SettingPairs{};
    if (open_rc != kRegOk) return std::nullopt;
    std::vector<std::pair<std::string, RegValue>> values;
    const int32_t rc = hive.enum_values(key, values);
    hive.close_key(key);
    if (rc == kRegKeyDeleted) return SettingPairs{};
    if (rc != kRegOk) return std::nullopt;
    SettingPairs out;
    out.reserve(values.size());
    for (auto& [name, v] : values) out.emplace_back(std::move(name), value_text(v));
    return out;
}

bool delete_setting(std::string_view application, std::string_view section, std::string_view name) {
    RegistryHive& hive = registry_hive();
    const std::string path = settings_key_path(application, section);
    if (name.empty()) return hive.delete_key(kHkeyCurrentUserRoot, path) == kRegOk;
    RegKey key;
    if (hive.open_key(kHkeyCurrentUserRoot, path, key) != kRegOk) return false;
    const int32_t rc = hive.delete_value(key, name);
    hive.close_key(key);
    return rc == kRegOk;
}

} // namespace ktr::platform
