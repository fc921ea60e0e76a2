#include "records/sync_record.h"

#include <cmath>

#include "config/option_store.h"
#include "config/program.h"
#include "diag/debug_log.h"
#include "platform/clock.h"
#include "platform/format.h"

namespace ktr::records {

void CSync::Init_Registry(const config::COptions& options) {
    SyncLocalTime_ = options.AutoPrevSyncTime();
    SyncDifferenceSec_ = options.AutoPrevDifference();
    SyncAccuracy_ = static_cast<float>(options.AutoPrevAccuracy());
    SyncStatus_ = 0;
    SyncServer_ = kRegistrySyncServer;
}

void CSync::Save_Setting(int32_t setting_difference_sec, int16_t setting_status, std::string_view server) {
    SyncLocalTime_ = platform::now_local();
    SyncServer_ = std::string(server);
    SyncDifferenceSec_ = setting_difference_sec;
    SyncStatus_ = setting_status;
}

void CSync::Compare_Sync(const CSync& previous) {
    const double stored = config::options().AutoPrevSyncTime();
    double difference = static_cast<double>(SyncDifferenceSec_);
    if (SyncUseFrac_) difference += SyncSecFrac_;
    const float interval = static_cast<float>(SyncLocalTime_ - previous.SyncLocalTime_);

    if (SyncLocalTime_ == stored || interval == 0.0f || (SyncUseFrac_ && difference == 0.0)) {
        SyncAccuracy_ = 0;
    } else {
        SyncAccuracy_ = static_cast<float>(difference / interval);
        KTR_TRACE("Difference Sec: " + platform::format_number(SyncDifferenceSec_, "0.0##") +
                  ", Prev Sync Time: " + platform::format_date(previous.SyncLocalTime_, "mm/dd/yy hh:nn"));
    }
    KTR_TRACE(" Client Accuracy: " + platform::format_number(SyncAccuracy_, "0.#"));
}

bool CSync::Save_Registry() {
    config::options().LastSyncTime(SyncLocalTime_);
    const std::string& app = config::program().title;
    bool ok = config::app_settings::RegistrySyncSettingSave(SyncLocalTime_, app);
    if (SyncAccuracy_ != 0.0f) {
        // Whole seconds per day, truncated toward zero: -2.7 is kept as -2.
        const float whole = std::trunc(SyncAccuracy_);
        ok = config::app_settings::RegistrySyncSave(whole, SyncLocalTime_, SyncDifferenceSec_, app) && ok;
    }
    return ok;
}

} // namespace ktr::records
