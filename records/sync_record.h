// The record of one completed clock setting, and the clock's drift computed from two of them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "config/options.h"

namespace ktr::records {

inline constexpr const char* kRegistrySyncServer = "(Registry values)";

class CSync {
public:
    double SyncLocalTime() const { return SyncLocalTime_; }
    void SyncLocalTime(double v) { SyncLocalTime_ = v; }
    const std::string& SyncServer() const { return SyncServer_; }
    void SyncServer(std::string v) { SyncServer_ = std::move(v); }
    int16_t SyncID() const { return SyncID_; }
    void SyncID(int16_t v) { SyncID_ = v; }
    double SyncDifference() const { return SyncDifference_; }
    void SyncDifference(double v) { SyncDifference_ = v; }
    // Drift of the local clock in seconds per day; 0 when no drift is available.
    float SyncAccuracy() const { return SyncAccuracy_; }
    void SyncAccuracy(float v) { SyncAccuracy_ = v; }
    int16_t SyncStatus() const { return SyncStatus_; }
    void SyncStatus(int16_t v) { SyncStatus_ = v; }
    int32_t SyncDifferenceSec() const { return SyncDifferenceSec_; }
    void SyncDifferenceSec(int32_t v) { SyncDifferenceSec_ = v; }
    float SyncSecFrac() const { return SyncSecFrac_; }
    void SyncSecFrac(float v) { SyncSecFrac_ = v; }
    bool SyncUseFrac() const { return SyncUseFrac_; }
    void SyncUseFrac(bool v) { SyncUseFrac_ = v; }

    // Rebuilds the record from the stored options (the previous synchronisation of an earlier run).
    void Init_Registry(const config::COptions& options);

    // Fills the record from a finished clock setting: now (local), the server, the setting's whole-second
    // difference and status.
    void Save_Setting(int32_t setting_difference_sec, int16_t setting_status, std::string_view server);
    // The same, from any clock-setting object with SettingDifferenceSec() and SettingStatus().
    template <class Setting> void Save_Setting(const Setting& setting, std::string_view server) {
        Save_Setting(static_cast<int32_t>(setting.SettingDifferenceSec()),
                     static_cast<int16_t>(setting.SettingStatus()), server);
    }

    // Computes SyncAccuracy (seconds per day) from this record and the previous one.
    void Compare_Sync(const CSync& previous);

    // Stores the record's time and, when there is one, its accuracy (options and registry). False when
    // the registry store failed (already reported there).
    bool Save_Registry();

    // What the options keep of the last valid setting for the Auto mode.
    config::AutoSettingSource auto_setting_source() const {
        return {SyncLocalTime_, SyncAccuracy_, SyncDifferenceSec_};
    }

private:
    double SyncLocalTime_ = 0;
    std::string SyncServer_;
    int16_t SyncID_ = 0;
    double SyncDifference_ = 0;
    float SyncAccuracy_ = 0;
    int16_t SyncStatus_ = 0;
    int32_t SyncDifferenceSec_ = 0;
    float SyncSecFrac_ = 0;
    bool SyncUseFrac_ = false;
};

} // namespace ktr::records
