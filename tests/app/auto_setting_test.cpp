#include "app/auto_setting.h"

#include <gtest/gtest.h>

#include <cmath>

#include "config/options.h"
#include "fakes/module_state.h"
#include "records/sync_record.h"

namespace ktr::app {
namespace {

using AutoSetting = testing::ModuleStateTest;

TEST_F(AutoSetting, OnlyAnAccuracyAboveZeroIsStoredRoundedHalvesToEven) {
    const std::pair<float, int> rows[] = {{2.5f, 2}, {3.5f, 4}, {0.0f, 60}, {-2.7f, 60}, {std::nanf(""), 60}};
    for (const auto& [accuracy, stored] : rows) {
        config::options().AutoPrevAccuracy(60);
        config::options().AutoPrevSyncTime(1.0);
        CAutoSetting setting;
        setting.count_attempt();
        records::CSync sync;
        sync.SyncLocalTime(kMorning);
        sync.SyncAccuracy(accuracy);
        EXPECT_EQ(setting.Save_Auto_Settings(sync), stored != 60) << accuracy;
        EXPECT_EQ(config::options().AutoPrevAccuracy(), stored) << accuracy;
        EXPECT_DOUBLE_EQ(config::options().AutoPrevSyncTime(), stored != 60 ? kMorning : 1.0) << accuracy;
        EXPECT_EQ(setting.attempts(), stored != 60 ? 0 : 1) << accuracy;
    }
}

} // namespace
} // namespace ktr::app
