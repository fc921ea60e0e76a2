// The per-application settings store: text values by application, section and name, kept in the registry
// hive under HKEY_CURRENT_USER\Software\VB and VBA Program Settings\<application>\<section>. Keys are
// created on the first save.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ktr::platform {

using SettingPairs = std::vector<std::pair<std::string, std::string>>;

// The hive path (under HKEY_CURRENT_USER) of an application's section.
std::string settings_key_path(std::string_view application, std::string_view section);

// The value's text (a 32-bit value as its decimal text); the default when the value or its key is
// missing or the hive cannot be read (the pending-error record is then filled).
std::string get_setting(std::string_view application, std::string_view section, std::string_view name,
                        std::string_view default_value = {});

// Stores a string value, creating the keys; false (pending error filled) when the hive refuses.
bool save_setting(std::string_view application, std::string_view section, std::string_view name,
                  std::string_view value);

// Every name and text of a section, in the order the values were first stored. An empty list when the
// section is missing or empty; nothing (pending error filled) when the hive cannot be read.
std::optional<SettingPairs> get_all_settings(std::string_view application, std::string_view section);

// Deletes one value, or with an empty name the whole section; false when it was not there.
bool delete_setting(std::string_view application, std::string_view section, std::string_view name = {});

} // namespace ktr::platform
