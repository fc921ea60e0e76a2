#include "app/auto_setting.h"

#include <gtest/gtest.h>

#include <cmath>

#include "config/options.h"
#include "records/sync_record.h"
#include "../records/records_fixture.h"

namespace ktr::app {
namespace {

class AutoSetting : public testing::RecordsTest {
protected:
    bool save(float accuracy) {
        records::CSync s;
        s.SyncLocalTime(kMorning);
        s.SyncAccuracy(accuracy);
        return setting_.Save_Auto_Settings(s);
    }
    CAutoSetting setting_;
};

TEST_F(AutoSetting, StoresTimeAndAccuracyRoundedHalvesToEven) {
    config::options().AutoPrevAccuracy(60);
    setting_.count_attempt();
    EXPECT_TRUE(save(2.5f));
    EXPECT_EQ(config::options().AutoPrevAccuracy(), 2);
    EXPECT_DOUBLE_EQ(config::options().AutoPrevSyncTime(), kMorning);
    EXPECT_EQ(setting_.attempts(), 0);
    EXPECT_TRUE(save(3.5f));
    EXPECT_EQ(config::options().AutoPrevAccuracy(), 4);
}

TEST_F(AutoSetting, NoAccuracyAboveZeroChangesNothing) {
    config::options().AutoPrevAccuracy(60);
    config::options().AutoPrevSyncTime(1.0);
    for (const float a : {0.0f, -2.7f, std::nanf("")}) EXPECT_FALSE(save(a)) << a;
    EXPECT_EQ(config::options().AutoPrevAccuracy(), 60);
    EXPECT_EQ(config::options().AutoPrevSyncTime(), 1.0);
    EXPECT_NE(debug_text().find("Save Auto Settings: no change in accuracy, skipping this value"), std::string::npos);
}

} // namespace
} // namespace ktr::app
