#include "app/auto_setting.h"

#include "config/options.h"
#include "diag/debug_log.h"
#include "platform/convert.h"
#include "records/sync_record.h"

namespace ktr::app {

bool CAutoSetting::Save_Auto_Settings(records::CSync& this_sync) {
    const double accuracy = this_sync.SyncAccuracy();
    // Written so that a value that is not a number also counts as "no change".
    if (!(accuracy > 0)) {
        KTR_TRACE("Save Auto Settings: no change in accuracy, skipping this value");
        return false;
    }
    config::COptions& o = config::options();
    o.AutoPrevSyncTime(this_sync.SyncLocalTime());
    o.AutoPrevAccuracy(platform::to_int32(accuracy).value_or(o.AutoPrevAccuracy()));
    attempts_ = 0;
    return true;
}

void CAutoSetting::ClearAutoAttemps() {
    KTR_TRACE("Clear Auto Attempts");
    attempts_ = 0;
}

CAutoSetting& auto_setting() {
    static CAutoSetting instance;
    return instance;
}

} // namespace ktr::app
