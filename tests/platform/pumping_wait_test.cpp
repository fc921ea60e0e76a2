#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "fakes/fake_clock.h"
#include "platform/event_pump.h"
#include "platform/pumping_wait.h"

namespace ktr::platform {
namespace {

struct PumpWait : ::testing::Test {
    testing::FakeClock clock;
    testing::ScopedFakeClock scoped{clock};
    testing::ScopedFakePauses pauses{clock};
    std::vector<double> elapsed, left;
    // Records each round the stop condition sees; stops once at least stop_after ms have passed.
    std::function<bool(const WaitProgress&)> stop_after(double ms) {
        return [this, ms](const WaitProgress& at) {
            elapsed.push_back(at.elapsed_ms);
            left.push_back(at.left_ms);
            return at.elapsed_ms >= ms;
        };
    }
};

TEST_F(PumpWait, RunsOutInRoundsAndLetsEventsRunMeanwhile) {
    Timer timer;
    int ticks = 0;
    timer.on_timer([&] { ++ticks; });
    timer.Interval(50);
    timer.Enabled(true);
    const WaitResult r = pump_wait(100, {35, 1000}, stop_after(1e9));
    EXPECT_FALSE(r.stopped);
    EXPECT_FALSE(r.counter_ran_backwards);
    EXPECT_EQ(r.elapsed_ms, 100) << "a round ends early where a timer falls due";
    EXPECT_EQ(ticks, 2);
    ASSERT_GE(left.size(), 3u) << "rounds of 35 ms at most";
    EXPECT_EQ(left.front(), 100);
    for (size_t i = 0; i < left.size(); ++i) EXPECT_DOUBLE_EQ(elapsed[i] + left[i], 100);
}

TEST_F(PumpWait, TheStopConditionEndsItWithTheTimeLeft) {
    const int32_t start = clock.tick_count();
    const WaitResult r = pump_wait(1000, {35, 1000}, stop_after(60));
    EXPECT_TRUE(r.stopped);
    EXPECT_GE(r.elapsed_ms, 60);
    EXPECT_LE(r.elapsed_ms, 70);
    EXPECT_EQ(r.elapsed_ms + r.left_ms, 1000);
    EXPECT_EQ(clock.tick_count() - start, r.elapsed_ms) << "no round after the stop";
}

TEST_F(PumpWait, ACounterRunningBackwardsEndsItAfterTheRestartPause) {
    clock.set_tick(INT32_MAX - 50);  // the signed counter wraps 51 ms into the wait
    const double utc_before = clock.utc();
    int told = 0;
    const WaitResult r = pump_wait(60000, {35, 200}, stop_after(1e9), [&] { ++told; });
    EXPECT_TRUE(r.counter_ran_backwards);
    EXPECT_FALSE(r.stopped);
    EXPECT_EQ(told, 1);
    for (double e : elapsed) EXPECT_GE(e, 0) << "the stop condition never sees the counter run backwards";
    const double waited_ms = (clock.utc() - utc_before) * 86400000.0;
    EXPECT_GE(waited_ms, 51 + 200 - 0.01);
    EXPECT_LE(waited_ms, 51 + 35 + 200 + 0.01) << "detected in the round the counter wrapped";
}

} // namespace
} // namespace ktr::platform
