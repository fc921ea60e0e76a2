#include "config/options.h"

#include <gtest/gtest.h>

#include "fakes/module_state.h"
#include "platform/date_value.h"

namespace ktr::config {
namespace {

using Options = testing::ModuleStateTest;

TEST_F(Options, DefaultsOfTheWindowsNtFamily) {
    platform::set_program_folder("/Opt/Ktr Svc");
    COptions o;
    set_option_defaults(o);
    EXPECT_EQ(o.NISTServer(), "<activated>");
    EXPECT_EQ((std::vector<int32_t>{o.TCPPort(), o.TimedInterval(), o.SetMaxThreshold()}),
              (std::vector<int32_t>{1001, 3600, 86400}));
    EXPECT_DOUBLE_EQ(o.LastSyncTime(), kMorning - 1);  // a day ago
    EXPECT_EQ(o.AutoPrevSyncTime(), o.LastSyncTime());
    // The folder keeps its case (case-sensitive file systems); the names are lower case.
    EXPECT_EQ(o.LoggingFileName() + " " + o.LoggingEvntFileName() + " " + o.ScheduleFileName(),
              "/Opt/Ktr Svc/logfile.txt /Opt/Ktr Svc/evntfile.txt /Opt/Ktr Svc/events.txt");
}

TEST_F(Options, CopyCarriesEverythingButThreeOptions) {
    COptions a, b;
    set_option_defaults(a);
    a.TCPPort(2020);
    a.X10ComPort(3);
    a.GraphDriftOn(true);
    a.LoggingSyncStartOn(true);
    a.Changed(true);
    a.Copy_Object_to(b);
    EXPECT_TRUE(b.TCPPort() == 2020 && b.X10ComPort() == 3 && b.NISTServer() == "<activated>");
    EXPECT_FALSE(b.GraphDriftOn() || b.LoggingSyncStartOn() || b.Changed());
    b.GraphDriftOn(true);
    b.Copy_Object_in(a);
    EXPECT_TRUE(b.GraphDriftOn() && b.TCPPort() == 2020);  // untouched, and the rest copied in
}

TEST_F(Options, AutoSettingsRoundHalvesToEven) {
    COptions o;
    o.Update_Auto_Settings({46000.25, 2.5f, -7});
    EXPECT_TRUE(o.AutoPrevSyncTime() == 46000.25 && o.AutoPrevDifference() == -7);
    for (const auto& [accuracy, stored] : {std::pair{2.5f, 2}, {3.5f, 4}, {-2.7f, -3}}) {
        o.Update_Auto_Settings({0, accuracy, 0});
        EXPECT_EQ(o.AutoPrevAccuracy(), stored) << accuracy;
    }
}

} // namespace
} // namespace ktr::config
