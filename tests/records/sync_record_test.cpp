#include "records/sync_record.h"

#include <gtest/gtest.h>

#include "config/option_store.h"
#include "fakes/module_state.h"
#include "platform/settings_store.h"

namespace ktr::records {
namespace {

class SyncRecord : public testing::ModuleStateTest {
protected:
    // A previous record at kMorning and a new one `days` later finding the clock off.
    static CSync run(double days, int32_t seconds, float fraction = 0, bool use_fraction = false) {
        CSync previous, next;
        previous.SyncLocalTime(kMorning);
        next.SyncLocalTime(kMorning + days);
        next.SyncDifferenceSec(seconds);
        next.SyncSecFrac(fraction);
        next.SyncUseFrac(use_fraction);
        next.Compare_Sync(previous);
        return next;
    }
    static std::string stored(const char* name) { return platform::get_setting("Ktrsvc", "Options", name, "<none>"); }
};

TEST_F(SyncRecord, AccuracyIsSecondsPerDaySinceThePreviousRecordAndIsStoredTruncatedOrNone) {
    // No interval or no difference: no accuracy.
    const std::pair<CSync, float> rows[] = {{run(0.5, 3), 6.0f},       {run(0.5, 1, 0.5f, true), 3.0f},
                                            {run(0.5, 1, 0.5f), 2.0f}, {run(1.0, -3, 0.3f, true), -2.7f},
                                            {run(0, 3), 0.0f},         {run(0.5, 0, 0, true), 0.0f}};
    for (const auto& [sync, accuracy] : rows) EXPECT_FLOAT_EQ(sync.SyncAccuracy(), accuracy) << &sync - &rows[0].first;

    EXPECT_TRUE(run(1.0, -3, 0.3f, true).Save_Registry());  // -2.7 seconds a day
    EXPECT_DOUBLE_EQ(config::options().LastSyncTime(), kMorning + 1.0);
    EXPECT_EQ(stored("AutoPrevSyncTime"), config::option_date_text(kMorning + 1.0));
    EXPECT_EQ(stored("AutoPrevAccuracy") + " " + stored("AutoPrevDifference"), "-2 -3");
    // A record at the time of the stored one stores no accuracy of its own.
    config::options().AutoPrevSyncTime(kMorning + 0.5);
    EXPECT_TRUE(run(0.5, 3).Save_Registry());
    EXPECT_EQ(stored("LastSyncTime"), config::option_date_text(kMorning + 0.5));
    EXPECT_EQ(stored("AutoPrevAccuracy"), "-2");
}

} // namespace
} // namespace ktr::records
