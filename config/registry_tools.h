// The registry wrapper (string and 32-bit values under an explicit root and path, failures reported
// through error_report) and the module's automatic-start entry.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/registry_hive.h"

namespace ktr::config {

inline constexpr uint32_t kRegTypeString = 1;
inline constexpr uint32_t kRegTypeNumber = 4;

// Creates (or opens) the key and closes it.
bool CreateNewKey(std::string_view key_path, uint32_t root);
// Opens an existing key (it is not created), writes the value (type 1: the text; type 4: the text as a
// 32-bit number; other types write nothing) and closes it. True when the key could be opened.
bool SetKeyValue(std::string_view key_path, uint32_t root, std::string_view value_name, std::string_view value,
                 uint32_t value_type);
// Opens the key, reads a string (without trailing NULs) or a 32-bit number (as decimal text), closes it.
bool QueryValue(std::string_view key_path, uint32_t root, std::string_view value_name, std::string& value);

// The typed read and write on an open key; the hive's status code (0 success).
int32_t QueryValueEx(const platform::RegKey& key, std::string_view value_name, std::string& value);
int32_t SetValueEx(const platform::RegKey& key, std::string_view value_name, uint32_t value_type,
                   std::string_view value);

// Drops the NUL characters at the end of a text read from the registry.
std::string strip_trailing_nuls(std::string_view text);

// The 8.3 short form of a path, or "" when it cannot be found.
std::string GetShortNameFromLongName(const std::string& long_path);

// Creates or clears the module's automatic-start entry; a "run" entry of another program is never
// overwritten.
void SaveStartupRegistrySetting(bool on, std::string_view title);
// Whether the automatic-start entry is set.
bool check_startup_entry(std::string_view title);
// Clears the entry when it is the module's own.
void remove_startup_entry(std::string_view title);

// Where the entry lives on the Windows NT family, and the program it starts.
inline constexpr std::string_view kNtRunKey = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
inline constexpr std::string_view kNtRunValue = "run";
inline constexpr std::string_view kBackgroundExe = "ZntrkBkg.exe";
inline constexpr std::string_view kRunKey95 = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

} // namespace ktr::config
