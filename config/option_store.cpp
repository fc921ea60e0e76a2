#include "config/option_store.h"

#include <array>
#include <charconv>
#include <cmath>

#include "config/program.h"
#include "config/registry_tools.h"
#include "diag/debug_log.h"
#include "config/security.h"
#include "diag/error_report.h"
#include "platform/convert.h"
#include "platform/date_parse.h"
#include "platform/format.h"
#include "platform/registry_hive.h"
#include "platform/settings_store.h"
#include "platform/text.h"

namespace ktr::config {

std::string option_value_text(int16_t value) { return std::to_string(value); }
std::string option_value_text(int32_t value) { return std::to_string(value); }
std::string option_value_text(bool value) { return value ? "True" : "False"; }
std::string option_date_text(double date) { return platform::format_date(date, "General Date"); }

std::string option_single_text(float value) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, r.ptr);
}

namespace {

std::string_view trim_blanks(std::string_view t) {
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
    return t;
}

// A number as the runtime's coercion of a text takes it: a number, or the words True and False.
std::optional<double> coerced_number(std::string_view text) {
    const std::string_view t = trim_blanks(text);
    if (platform::equals_no_case(t, "True")) return -1.0;
    if (platform::equals_no_case(t, "False")) return 0.0;
    return platform::text_to_number(t);
}

} // namespace

std::optional<int16_t> option_integer(std::string_view text) {
    const auto n = coerced_number(text);
    return n ? platform::to_int16(*n) : std::nullopt;
}

std::optional<int32_t> option_long(std::string_view text) {
    const auto n = coerced_number(text);
    return n ? platform::to_int32(*n) : std::nullopt;
}

std::optional<bool> option_boolean(std::string_view text) {
    const auto n = coerced_number(text);
    if (!n || std::isnan(*n)) return std::nullopt;
    return *n != 0.0;
}

std::optional<double> option_date(std::string_view text) { return platform::parse_date(text); }

namespace {

// The text and the reading back of each option's type.
std::string to_text(int16_t v) { return option_value_text(v); }
std::string to_text(int32_t v) { return option_value_text(v); }
std::string to_text(bool v) { return option_value_text(v); }
std::string to_text(double v) { return option_date_text(v); }
std::string to_text(const std::string& v) { return v; }

template <OptionType K> std::optional<typename OptionCpp<K>::type> from_text(std::string_view text) {
    if constexpr (K == OptionType::Integer) return option_integer(text);
    else if constexpr (K == OptionType::Long) return option_long(text);
    else if constexpr (K == OptionType::Boolean) return option_boolean(text);
    else if constexpr (K == OptionType::Date) return option_date(text);
    else return std::string(text);
}

enum class Opt {
#define KTR_OPT_ENUM(kind, name, reg) name,
    KTR_OPTIONS(KTR_OPT_ENUM)
#undef KTR_OPT_ENUM
    count
};

struct OptionEntry {
    std::string_view registry_name;
    std::string (*get)(const COptions&);
    bool (*set)(COptions&, std::string_view);
};

const std::array<OptionEntry, static_cast<size_t>(Opt::count)> kEntries{{
#define KTR_OPT_ENTRY(kind, name, reg)                                                   \
    OptionEntry{reg, [](const COptions& o) { return to_text(o.name()); },                \
                [](COptions& o, std::string_view t) {                                    \
                    auto v = from_text<OptionType::kind>(t);                             \
                    if (!v) return false;                                                \
                    o.name(std::move(*v));                                               \
                    return true;                                                         \
                }},
    KTR_OPTIONS(KTR_OPT_ENTRY)
#undef KTR_OPT_ENTRY
}};

const OptionEntry& entry(Opt o) { return kEntries[static_cast<size_t>(o)]; }

// What the key store reads, in its order.
constexpr Opt kReadList[] = {
    Opt::SettingMode, Opt::SetOnceExit, Opt::NISTServer, Opt::LocalPort, Opt::LocalHost, Opt::ServerFormat,
    Opt::ClientFormat, Opt::Servername, Opt::ServerType, Opt::ServerPort, Opt::ServerTZDiff,
    Opt::ServerCustomFormat, Opt::ServerConn, Opt::TimedInterval, Opt::SyncNextTime, Opt::LoggingOn,
    Opt::LoggingFileName, Opt::LoggingMode, Opt::LoggingMaxSecOn, Opt::LoggingActionFile, Opt::LoggingEvntFileName,
    Opt::LoggingNTEvntOn, Opt::LoggingFileOn, Opt::LoggingEvntOn, Opt::LoggingSyncStartOn, Opt::LoggingSyncDoneOn,
    Opt::LoggingConnFailOn, Opt::LoggingCliEvntOn, Opt::LoggingMaxSec, Opt::SyncWarningInterval, Opt::SyncWarning,
    Opt::SyncWarnEmail, Opt::EmailOptions, Opt::LoggingSyslogServ, Opt::LoggingSyslogOn, Opt::GraphOn,
    Opt::GraphDriftOn, Opt::GraphDifferenceOn, Opt::SyncDataPoints, Opt::GraphHistOn, Opt::GraphHistIgnore0,
    Opt::AutoDesiredAccuracy, Opt::AutoUncertainty, Opt::AutoPrevAccuracy, Opt::AutoPrevSyncTime,
    Opt::AutoPrevDifference, Opt::DisplayCliSaveActives, Opt::DisplayCliValidate, Opt::DisplayCliDelInactives,
    Opt::DisplayTips, Opt::DisplayNISTTime, Opt::SetMaxThreshold, Opt::SetMinThreshold, Opt::SetMinThresholdDrift,
    Opt::ControlMode, Opt::ControlFunction, Opt::ClientStart, Opt::ClientKeyType, Opt::DomainName, Opt::TCPPort,
    Opt::ControlFuncArgs, Opt::ScheduleFileName, Opt::ClientFileName};

// What the key store writes before the startup entry, then after it; "Changed" comes last.
constexpr Opt kWriteListHead[] = {
    Opt::SettingMode, Opt::SetOnceExit, Opt::NISTServer, Opt::LocalPort, Opt::LocalHost, Opt::ServerFormat,
    Opt::ClientFormat, Opt::Servername, Opt::ServerType, Opt::ServerPort, Opt::ServerTZDiff, Opt::GraphHistIgnore0,
    Opt::ServerCustomFormat, Opt::ServerConn, Opt::TimedInterval, Opt::SyncNextTime, Opt::LoggingOn,
    Opt::LoggingFileName, Opt::LoggingMode, Opt::LoggingActionFile, Opt::LoggingMaxSecOn, Opt::LoggingEvntFileName,
    Opt::LoggingNTEvntOn, Opt::LoggingFileOn, Opt::LoggingEvntOn, Opt::LoggingSyncStartOn, Opt::LoggingSyncDoneOn,
    Opt::LoggingConnFailOn, Opt::LoggingCliEvntOn, Opt::LoggingMaxSec, Opt::SyncWarning, Opt::SyncWarningInterval,
    Opt::SyncWarnEmail, Opt::EmailOptions, Opt::LoggingSyslogOn, Opt::LoggingSyslogServ, Opt::GraphOn,
    Opt::GraphDriftOn, Opt::GraphDifferenceOn, Opt::SyncDataPoints, Opt::GraphHistOn, Opt::GraphClientOpts,
    Opt::GraphAutoSelect, Opt::AutoDesiredAccuracy, Opt::AutoUncertainty, Opt::AutoPrevAccuracy,
    Opt::AutoPrevSyncTime, Opt::AutoPrevDifference, Opt::DisplayCliSaveActives, Opt::DisplayCliValidate,
    Opt::DisplayTips, Opt::DisplayCliDelInactives, Opt::DisplayNISTTime, Opt::DisplayControlPanel,
    Opt::DisplayClientTree, Opt::DisplayGraphData};
constexpr Opt kWriteListTail[] = {Opt::SetMaxThreshold, Opt::SetMinThreshold, Opt::SetMinThresholdDrift,
                                  Opt::DomainName,      Opt::ControlMode,     Opt::ControlFunction,
                                  Opt::ClientStart,     Opt::ClientKeyType,   Opt::TCPPort,
                                  Opt::ControlFuncArgs, Opt::ScheduleFileName, Opt::ClientFileName};

// The settings store handles every option but these.
bool settings_store_skips(Opt o) { return o == Opt::SystemStartup || o == Opt::X10ComPort || o == Opt::Changed; }

constexpr std::string_view kSection = "Options";

std::string quoted_pair(std::string_view name, std::string_view value) {
    return "Name: _" + std::string(name) + "_  Value:_" + std::string(value) + "_";
}

// The failure of a writer itself: it stops there.
bool write_failed(std::string_view procedure) {
    KTR_TRACE("Error writing param");
    diag::error_report(diag::Severity::problem, "can't write setting to registry", "modMain", procedure, 5);
    return false;
}

} // namespace

std::string key_store::get_option_key(std::string_view name) {
    std::string value;
    if (QueryValue(program().options_key, program().registry_root, name, value)) {
        KTR_TRACE("Option Key: " + std::string(name) + ", Value: " + value);
        return value;
    }
    KTR_TRACE("ERROR Option Key:_" + std::string(name) + "_ NOT FOUND!");
    return "1";
}

bool key_store::read_option_key(std::string_view key_path, uint32_t root, std::string_view name, std::string& value) {
    if (!QueryValue(key_path, root, name, value)) return false;
    KTR_TRACE("Option Key read: " + std::string(name) + ", Value: " + value);
    return true;
}

bool key_store::save_option_key(std::string_view key_path, std::string_view name, std::string_view value) {
    if (!SetKeyValue(key_path, program().registry_root, name, value, kRegTypeString)) return false;
    KTR_TRACE("Option Key saved: " + std::string(name) + ", Value: " + std::string(value));
    return true;
}

bool key_store::Registry_Get(COptions& options, std::string_view title) {
    load_security(title);
    if (get_option_key(entry(Opt::NISTServer).registry_name).size() < 2) {
        KTR_TRACE("RegistryGet: All settings are empty.");
        return false;
    }
    KTR_TRACE("Start Registry_Get:");
    for (const Opt o : kReadList) {
        const OptionEntry& e = entry(o);
        if (!e.set(options, get_option_key(e.registry_name))) KTR_TRACE("Registry_Get:  Error in getting settings.");
    }
    options.SystemStartup(check_startup_entry(title));
    return true;
}

bool key_store::Registry_Set(std::string_view key_path, const COptions& options) {
    // One commit for the whole set: other programs see all of it or none, and far fewer disk flushes.
    platform::RegistryBatch batch(platform::registry_hive());
    const auto write = [&](const Opt o) -> bool {
        std::string text;
        try {
            text = entry(o).get(options);
        } catch (...) {
            return false;
        }
        save_option_key(key_path, entry(o).registry_name, text);
        return true;
    };
    for (const Opt o : kWriteListHead)
        if (!write(o)) return write_failed("Registry_Set");
    SaveStartupRegistrySetting(options.SystemStartup(), program().title);
    for (const Opt o : kWriteListTail)
        if (!write(o)) return write_failed("Registry_Set");
    save_option_key(key_path, entry(Opt::Changed).registry_name, option_value_text(true));
    KTR_TRACE("Registry_Set: complete");
    return true;
}

void set_option_value(std::string_view name, std::string_view value, COptions& options) {
    KTR_TRACE(quoted_pair(name, value));
    for (size_t i = 0; i < kEntries.size(); ++i) {
        if (settings_store_skips(static_cast<Opt>(i)) || kEntries[i].registry_name != name) continue;
        if (!kEntries[i].set(options, value))
            KTR_TRACE("set_option_value: ERROR getting: " + std::string(name) + "_  Value:_" + std::string(value) + "_");
        return;
    }
    KTR_TRACE("set_option_value:  CASE ElseParam: " + std::string(name));
}

bool app_settings::RegistryGet(COptions& options, std::string_view app) {
    load_security(app);
    const auto pairs = platform::get_all_settings(app, kSection);
    if (!pairs) {
        // The hive itself cannot be read: the options stay as they are.
        diag::error_report(diag::Severity::problem, "can't read settings from registry", "modCommon", "RegistryGet", 6);
        return false;
    }
    if (pairs->empty()) {
        KTR_TRACE("RegistryGet: All settings are empty.");
        return false;
    }
    KTR_TRACE("Start RegistryGet:");
    for (const auto& [name, value] : *pairs) set_option_value(name, value, options);
    options.SystemStartup(check_startup_entry(app));
    return true;
}

bool app_settings::RegistrySet(const COptions& options, std::string_view app) {
    platform::RegistryBatch batch(platform::registry_hive());
    for (size_t i = 0; i < kEntries.size(); ++i) {
        if (settings_store_skips(static_cast<Opt>(i))) continue;
        std::string text;
        try {
            text = kEntries[i].get(options);
        } catch (...) {
            return write_failed("RegistrySet");
        }
        if (!platform::save_setting(app, kSection, kEntries[i].registry_name, text)) return write_failed("RegistrySet");
    }
    SaveStartupRegistrySetting(options.SystemStartup(), app);
    KTR_TRACE("RegistrySet: complete");
    return true;
}

bool app_settings::RegistrySyncSave(float accuracy, double sync_time, int32_t difference, std::string_view app) {
    platform::RegistryBatch batch(platform::registry_hive());
    bool ok = platform::save_setting(app, kSection, "AutoPrevAccuracy", option_single_text(accuracy));
    ok = platform::save_setting(app, kSection, "AutoPrevSyncTime", option_date_text(sync_time)) && ok;
    ok = platform::save_setting(app, kSection, "AutoPrevDifference", option_value_text(difference)) && ok;
    if (!ok) diag::error_report(diag::Severity::problem, "can't write setting to registry", "modCommon", "RegistrySyncSave", 5);
    return ok;
}

bool app_settings::RegistrySyncSettingSave(double sync_time, std::string_view app) {
    const bool ok = platform::save_setting(app, kSection, "LastSyncTime", option_date_text(sync_time));
    if (!ok) diag::error_report(diag::Severity::problem, "can't write setting to registry", "modCommon", "RegistrySyncSettingSave", 5);
    return ok;
}

std::optional<double> app_settings::RegistrySyncSettingGet(std::string_view app) {
    return option_date(platform::get_setting(app, kSection, "LastSyncTime"));
}

} // namespace ktr::config
