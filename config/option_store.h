// The option store: the options as one text value each in the registry. Two families reach the same key:
// the key store (explicit root and key path, through the registry wrapper) and the settings store
// (application name and section "Options").
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "config/options.h"

namespace ktr::config {

// The key store: the Options key addressed by root and path (start-up loads and saves through it).
namespace key_store {
// Fills the options from the Options key; false (nothing changed) when no options are stored there.
bool Registry_Get(COptions& options, std::string_view title);
// Writes the options into the given key, then "Changed" = "True"; false when a value cannot be written
// as text.
bool Registry_Set(std::string_view key_path, const COptions& options);
// One value of the Options key; "1" when it is missing or cannot be read.
std::string get_option_key(std::string_view name);
// One value of any key.
bool read_option_key(std::string_view key_path, uint32_t root, std::string_view name, std::string& value);
// Writes one string value into an existing key under the store's root.
bool save_option_key(std::string_view key_path, std::string_view name, std::string_view value);
} // namespace key_store

// Applies one stored value by its registry name (exact case); unknown names and values that do not
// convert leave the options as they are.
void set_option_value(std::string_view name, std::string_view value, COptions& options);

// The application settings store: section "Options" of the application (reloads when options changed,
// and the values that change after every setting).
namespace app_settings {
// Applies every stored value of section "Options" of the application; false when there are none.
bool RegistryGet(COptions& options, std::string_view app);
// Writes every stored option into section "Options" of the application.
bool RegistrySet(const COptions& options, std::string_view app);
// The values that change after every setting. sync_time is a date value. Both return false when a value
// could not be stored (the hive refused it).
bool RegistrySyncSave(float accuracy, double sync_time, int32_t difference, std::string_view app);
bool RegistrySyncSettingSave(double sync_time, std::string_view app);
// The last check of the clock as RegistrySyncSettingSave stored it; none before the first check.
std::optional<double> RegistrySyncSettingGet(std::string_view app);
} // namespace app_settings

// The stored text of an option value and its reading back, as both families convert them.
std::string option_value_text(int16_t value);
std::string option_value_text(int32_t value);
std::string option_value_text(bool value);
std::string option_date_text(double date);
std::string option_single_text(float value);
std::optional<int16_t> option_integer(std::string_view text);
std::optional<int32_t> option_long(std::string_view text);
std::optional<bool> option_boolean(std::string_view text);
std::optional<double> option_date(std::string_view text);

} // namespace ktr::config
