#include "records/sync_record.h"

#include <gtest/gtest.h>

#include <tuple>

#include "config/option_store.h"
#include "config/options.h"
#include "fakes/module_state.h"
#include "platform/settings_store.h"

namespace ktr::records {
namespace {

class SyncRecord : public testing::ModuleStateTest {
protected:
    // A previous record at kMorning and a new one `days` later finding the clock off.
    CSync run(double days, int32_t seconds, float fraction, bool use_fraction) {
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

TEST_F(SyncRecord, AccuracyIsSecondsPerDaySinceThePreviousRecord) {
    // days since the previous record, seconds off, fraction, fraction used, accuracy
    const std::tuple<double, int32_t, float, bool, float> rows[] = {
        {0.5, 3, 0, false, 6.0f},   {0.5, 1, 0.5f, true, 3.0f}, {0.5, 1, 0.5f, false, 2.0f},
        {2.0, -4, 0, false, -2.0f}, {0, 3, 0, false, 0.0f},     {0.5, 0, 0, true, 0.0f},  // no interval, no difference
    };
    for (const auto& [days, seconds, fraction, use_fraction, accuracy] : rows)
        EXPECT_FLOAT_EQ(run(days, seconds, fraction, use_fraction).SyncAccuracy(), accuracy) << days << " " << seconds;
}

TEST_F(SyncRecord, SaveRegistryStoresTheTimeAndTheAccuracyTruncatedOrNone) {
    CSync s = run(1.0, -3, 0.3f, true);  // -2.7 seconds a day
    EXPECT_FLOAT_EQ(s.SyncAccuracy(), -2.7f);
    EXPECT_TRUE(s.Save_Registry());
    EXPECT_DOUBLE_EQ(config::options().LastSyncTime(), kMorning + 1.0);
    EXPECT_EQ(stored("AutoPrevSyncTime"), config::option_date_text(kMorning + 1.0));
    EXPECT_EQ(stored("AutoPrevAccuracy"), "-2");
    EXPECT_EQ(stored("AutoPrevDifference"), "-3");

    // A record at the time of the stored one stores no accuracy of its own.
    config::options().AutoPrevSyncTime(kMorning + 0.5);
    EXPECT_TRUE(run(0.5, 3, 0, false).Save_Registry());
    EXPECT_EQ(stored("LastSyncTime"), config::option_date_text(kMorning + 0.5));
    EXPECT_EQ(stored("AutoPrevAccuracy"), "-2");
}

} // namespace
} // namespace ktr::records
