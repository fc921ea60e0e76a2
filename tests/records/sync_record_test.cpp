#include "records/sync_record.h"

#include <gtest/gtest.h>

#include "config/option_store.h"
#include "config/options.h"
#include "platform/settings_store.h"
#include "records_fixture.h"

namespace ktr::records {
namespace {

class SyncRecord : public testing::RecordsTest {
protected:
    // A previous record at kMorning and a new one `days` later finding the clock off.
    CSync run(double days, int32_t seconds, float fraction, bool use_fraction) {
        previous_.SyncLocalTime(kMorning);
        CSync next;
        next.SyncLocalTime(kMorning + days);
        next.SyncDifferenceSec(seconds);
        next.SyncSecFrac(fraction);
        next.SyncUseFrac(use_fraction);
        next.Compare_Sync(previous_);
        return next;
    }
    CSync previous_;
};

TEST_F(SyncRecord, AccuracyIsSecondsPerDaySinceThePreviousRecord) {
    EXPECT_FLOAT_EQ(run(0.5, 3, 0, false).SyncAccuracy(), 6.0f);
    EXPECT_FLOAT_EQ(run(0.5, 1, 0.5f, true).SyncAccuracy(), 3.0f);
    EXPECT_FLOAT_EQ(run(0.5, 1, 0.5f, false).SyncAccuracy(), 2.0f);
    EXPECT_FLOAT_EQ(run(2.0, -4, 0, false).SyncAccuracy(), -2.0f);
    EXPECT_NE(debug_text().find(" Client Accuracy: 6."), std::string::npos) << debug_text();
    EXPECT_NE(debug_text().find("Difference Sec: 3.0, Prev Sync Time: 03/05/26 09:07"), std::string::npos);
}

TEST_F(SyncRecord, NoAccuracyWithoutAnIntervalOrADifference) {
    EXPECT_EQ(run(0, 3, 0, false).SyncAccuracy(), 0.0f);
    EXPECT_EQ(run(0.5, 0, 0, true).SyncAccuracy(), 0.0f);
}

std::string stored(const char* name) { return platform::get_setting("Ktrsvc", "Options", name, "<none>"); }

TEST_F(SyncRecord, SaveRegistryStoresTheTimeAndTheAccuracyTruncated) {
    CSync s = run(1.0, -3, 0.3f, true);  // -2.7 seconds a day
    EXPECT_FLOAT_EQ(s.SyncAccuracy(), -2.7f);
    EXPECT_TRUE(s.Save_Registry());
    EXPECT_DOUBLE_EQ(config::options().LastSyncTime(), kMorning + 1.0);
    EXPECT_EQ(stored("LastSyncTime"), config::option_date_text(kMorning + 1.0));
    EXPECT_EQ(stored("AutoPrevSyncTime"), config::option_date_text(kMorning + 1.0));
    EXPECT_EQ(stored("AutoPrevAccuracy"), "-2");
    EXPECT_EQ(stored("AutoPrevDifference"), "-3");
}

TEST_F(SyncRecord, SaveRegistryStoresNoAccuracyWhenThereIsNone) {
    config::options().AutoPrevSyncTime(kMorning + 0.5);
    CSync s = run(0.5, 3, 0, false);
    EXPECT_TRUE(s.Save_Registry());
    EXPECT_EQ(stored("LastSyncTime"), config::option_date_text(kMorning + 0.5));
    EXPECT_EQ(stored("AutoPrevAccuracy"), "<none>");
}

struct FinishedSetting {
    int32_t SettingDifferenceSec() const { return -17; }
    int16_t SettingStatus() const { return 4; }
};

TEST_F(SyncRecord, SaveSettingTakesNowTheServerAndTheSettingsResults) {
    CSync s;
    s.Save_Setting(FinishedSetting{}, "time.example");
    EXPECT_DOUBLE_EQ(s.SyncLocalTime(), kMorning);
    EXPECT_EQ(s.SyncServer(), "time.example");
    EXPECT_EQ(s.SyncDifferenceSec(), -17);
    EXPECT_EQ(s.SyncStatus(), 4);
}

TEST_F(SyncRecord, InitRegistryRebuildsTheRecordFromTheOptions) {
    config::COptions o;
    o.AutoPrevSyncTime(kMorning);
    o.AutoPrevDifference(-9);
    o.AutoPrevAccuracy(12);
    CSync s;
    s.SyncStatus(200);
    s.Init_Registry(o);
    EXPECT_DOUBLE_EQ(s.SyncLocalTime(), kMorning);
    EXPECT_EQ(s.SyncDifferenceSec(), -9);
    EXPECT_EQ(s.SyncAccuracy(), 12.0f);
    EXPECT_EQ(s.SyncStatus(), 0);
    EXPECT_EQ(s.SyncServer(), "(Registry values)");
    const config::AutoSettingSource src = s.auto_setting_source();
    EXPECT_EQ(src.SyncDifferenceSec, -9);
    EXPECT_EQ(src.SyncAccuracy, 12.0f);
}

} // namespace
} // namespace ktr::records
