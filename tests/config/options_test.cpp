#include "config/options.h"

#include <gtest/gtest.h>

#include "fakes/module_state.h"
#include "platform/date_value.h"

namespace ktr::config {
namespace {

using Options = testing::ModuleStateTest;

TEST_F(Options, DefaultsOfTheWindowsNtFamily) {
    clock_.set_utc(platform::make_date(2026, 12, 5, 12, 0, 0));
    platform::set_program_folder("/Opt/Ktr Svc");
    COptions o;
    set_option_defaults(o);
    EXPECT_EQ(o.NISTServer(), "<activated>");
    EXPECT_EQ(o.TCPPort(), 1001);
    EXPECT_EQ(o.LastSyncTime(), platform::make_date(2026, 12, 4, 12, 0, 0));
    EXPECT_EQ(o.AutoPrevSyncTime(), o.LastSyncTime());
    // The folder keeps its case (case-sensitive file systems); the names are lower case.
    EXPECT_EQ(o.LoggingFileName(), "/Opt/Ktr Svc/logfile.txt");
    EXPECT_EQ(o.LoggingEvntFileName(), "/Opt/Ktr Svc/evntfile.txt");
    EXPECT_EQ(o.ScheduleFileName(), "/Opt/Ktr Svc/events.txt");
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
    EXPECT_EQ(b.TCPPort(), 2020);
    EXPECT_EQ(b.X10ComPort(), 3);
    EXPECT_EQ(b.NISTServer(), "<activated>");
    EXPECT_FALSE(b.GraphDriftOn());
    EXPECT_FALSE(b.LoggingSyncStartOn());
    EXPECT_FALSE(b.Changed());

    COptions c;
    c.GraphDriftOn(true);
    c.Copy_Object_in(a);
    EXPECT_EQ(c.TCPPort(), 2020);
    EXPECT_TRUE(c.GraphDriftOn());  // untouched
}

// Any object with properties of the same names can be a copy's destination.
struct Recorder {
    std::vector<std::string> order;
#define KTR_REC(kind, name, reg) \
    void name(const OptionCpp<OptionType::kind>::type&) { order.emplace_back(#name); } \
    OptionCpp<OptionType::kind>::type name() const { return {}; }
    KTR_OPTIONS(KTR_REC)
#undef KTR_REC
};

TEST_F(Options, CopyFollowsTheListedOrder) {
    Recorder r;
    COptions().Copy_Object_to(r);
    ASSERT_EQ(r.order.size(), 70u);
    EXPECT_EQ(r.order.front(), "NISTServer");
    EXPECT_EQ(r.order[1], "TimedInterval");
    EXPECT_EQ(r.order[28], "LoggingFileName");
    EXPECT_EQ(r.order.back(), "X10ComPort");
}

TEST_F(Options, AutoSettingsRoundHalvesToEven) {
    COptions o;
    o.Update_Auto_Settings({46000.25, 2.5f, -7});
    EXPECT_EQ(o.AutoPrevSyncTime(), 46000.25);
    EXPECT_EQ(o.AutoPrevDifference(), -7);
    for (const auto& [accuracy, stored] : {std::pair{2.5f, 2}, {3.5f, 4}, {-2.7f, -3}}) {
        o.Update_Auto_Settings({0, accuracy, 0});
        EXPECT_EQ(o.AutoPrevAccuracy(), stored) << accuracy;
    }
}

} // namespace
} // namespace ktr::config
