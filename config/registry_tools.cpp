#include "config/registry_tools.h"

#include <string>

#include "diag/debug_log.h"
#include "diag/error_report.h"
#include "platform/convert.h"
#include "platform/files.h"
#include "platform/pending_error.h"
#include "platform/system.h"

namespace ktr::config {
namespace {

constexpr std::string_view kModule = "modRegistryTools";

using platform::RegistryHive;
using platform::RegKey;
using platform::RegValue;

enum class Family { win95, nt, other };

Family family() {
    const std::string f = platform::os_family();
    if (f == "Windows NT") return Family::nt;
    if (f == "Windows 95/98") return Family::win95;
    return Family::other;
}

std::string concat(std::initializer_list<std::string_view> parts) {
    std::string out;
    for (const auto p : parts) out += p;
    return out;
}

// The short path of the background program that the NT entry starts.
std::string background_short_path() {
    const std::string shortname =
        GetShortNameFromLongName(platform::join_path(platform::program_folder(), kBackgroundExe));
    KTR_TRACE("Executable string for run (8.3): " + shortname);
    return shortname;
}

// Whether the NT "run" value holds the module's own entry. A missing background program has no short
// path and so never counts as set: an empty "run" value would otherwise match it.
bool nt_entry_is_ours(const std::string& shortname, std::string* current = nullptr) {
    std::string run;
    const bool read =
        QueryValue(kNtRunKey, platform::kHkeyCurrentUserRoot, kNtRunValue, run);
    if (current) *current = read ? run : std::string();
    return read && !shortname.empty() && run == shortname;
}

} // namespace

bool CreateNewKey(std::string_view key_path, uint32_t root) {
    RegistryHive& hive = platform::registry_hive();
    RegKey key;
    if (hive.create_key(root, key_path, key) != platform::kRegOk) {
        diag::error_report(diag::Severity::information, concat({"Error CreateKey: ", key_path}), kModule, "CreateNewKey", 901);
        return false;
    }
    hive.close_key(key);
    return true;
}

int32_t SetValueEx(const RegKey& key, std::string_view value_name, uint32_t value_type, std::string_view value) {
    switch (value_type) {
    case kRegTypeString: return platform::registry_hive().set_value(key, value_name, RegValue::sz(value));
    case kRegTypeNumber: {
        const auto number = platform::text_to_number(value);
        const auto n32 = number ? platform::to_int32(*number) : std::nullopt;
        if (!n32) {
            platform::set_pending_error(13, "Type mismatch");
            return platform::kRegInvalidParameter;
        }
        return platform::registry_hive().set_value(key, value_name, RegValue::dword(static_cast<uint32_t>(*n32)));
    }
    default: return platform::kRegOk;
    }
}

bool SetKeyValue(std::string_view key_path, uint32_t root, std::string_view value_name, std::string_view value,
                 uint32_t value_type) {
    RegistryHive& hive = platform::registry_hive();
    RegKey key;
    if (hive.open_key(root, key_path, key) != platform::kRegOk) {
        diag::error_report(diag::Severity::information, concat({"Error Opening key: ", value_name, ", setting: ", value}), kModule,
                              "SetKeyvalue", 902);
        return false;
    }
    if (SetValueEx(key, value_name, value_type, value) != platform::kRegOk)
        diag::error_report(diag::Severity::information, concat({"Error Setting value of key: ", key_path}), kModule, "SetKeyValue", 902);
    hive.close_key(key);
    return true;
}

int32_t QueryValueEx(const RegKey& key, std::string_view value_name, std::string& value) {
    RegValue v;
    int32_t rc = platform::registry_hive().query_value(key, value_name, v);
    if (rc != platform::kRegOk) {
        KTR_TRACE("Error in QueryValueEx key:" + std::to_string(key.handle) + " Name:" +
                  std::string(value_name));
        return rc;
    }
    switch (v.type) {
    case platform::kRegSz: value = v.text(); return platform::kRegOk;
    case platform::kRegDword: value = std::to_string(static_cast<int32_t>(v.number())); return platform::kRegOk;
    default:
        platform::set_pending_error(platform::kRegInvalidParameter, "unsupported value type");
        return platform::kRegInvalidParameter;
    }
}

bool QueryValue(std::string_view key_path, uint32_t root, std::string_view value_name, std::string& value) {
    RegistryHive& hive = platform::registry_hive();
    RegKey key;
    if (hive.open_key(root, key_path, key) != platform::kRegOk) {
        diag::error_report(diag::Severity::information, concat({"Error Opening Key: ", key_path, ", setting: ", value_name}), kModule,
                              "QueryValue", 904);
        return false;
    }
    std::string read;
    const bool ok = QueryValueEx(key, value_name, read) == platform::kRegOk;
    if (ok) value = strip_trailing_nuls(read);
    else
        diag::error_report(diag::Severity::information, concat({"Error querying value of key: ", key_path, " Name:_", value_name, "_"}),
                              kModule, "QueryValue", 905);
    hive.close_key(key);
    return ok;
}

std::string strip_trailing_nuls(std::string_view text) {
    size_t end = text.size();
    while (end > 0 && text[end - 1] == '\0') --end;
    return std::string(text.substr(0, end));
}

std::string GetShortNameFromLongName(const std::string& long_path) { return platform::short_path_name(long_path); }

void SaveStartupRegistrySetting(bool on, std::string_view title) {
    switch (family()) {
    case Family::win95: {
        const std::string command = on ? platform::join_path(platform::program_folder(), std::string(title) + ".exe") +
                                             " background"
                                       : std::string();
        SetKeyValue(kRunKey95, platform::kHkeyLocalMachineRoot, title, command, kRegTypeString);
        return;
    }
    case Family::nt: {
        const std::string shortname = background_short_path();
        std::string run;
        if (nt_entry_is_ours(shortname, &run)) {
            if (!on) SetKeyValue(kNtRunKey, platform::kHkeyCurrentUserRoot, kNtRunValue, "", kRegTypeString);
        } else if (run.empty()) {
            if (on && !shortname.empty())
                SetKeyValue(kNtRunKey, platform::kHkeyCurrentUserRoot, kNtRunValue, shortname, kRegTypeString);
        } else if (on) {
            KTR_TRACE("Cant set the auto startup action");
        }
        return;
    }
    case Family::other:
        KTR_TRACE("SaveStartupRegistrySetting: unknown O/S");
        return;
    }
}

bool check_startup_entry(std::string_view title) {
    switch (family()) {
    case Family::win95: {
        std::string value;
        const bool read = QueryValue(kRunKey95, platform::kHkeyLocalMachineRoot, title, value);
        if (!read) CreateNewKey(kRunKey95, platform::kHkeyLocalMachineRoot);
        return read && !value.empty();
    }
    case Family::nt: return nt_entry_is_ours(background_short_path());
    case Family::other: return false;
    }
    return false;
}

void remove_startup_entry(std::string_view title) {
    switch (family()) {
    case Family::win95:
        SetKeyValue(kRunKey95, platform::kHkeyLocalMachineRoot, title, "", kRegTypeString);
        return;
    case Family::nt:
        if (nt_entry_is_ours(background_short_path()))
            SetKeyValue(kNtRunKey, platform::kHkeyCurrentUserRoot, kNtRunValue, "", kRegTypeString);
        return;
    case Family::other: return;
    }
}

} // namespace ktr::config
