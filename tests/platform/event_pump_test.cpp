#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <vector>

#include "fakes/fake_clock.h"
#include "platform/event_pump.h"
#include "platform/pumping_wait.h"

namespace ktr::platform {
namespace {

// The pump's pauses move the fake clock instead of blocking.
struct Pump : ::testing::Test {
    testing::FakeClock clock;
    testing::ScopedFakeClock scoped{clock};
    testing::ScopedFakePauses pauses{clock};
    Timer timer;
    int fired = 0;

    Pump() { timer.on_timer([this] { ++fired; }); }
    // Lets the fake time pass in pump rounds of 10 ms.
    static void pump_ms(int ms) {
        for (int i = 0; i < ms / 10; ++i) pump_events(10);
    }
    void start_timer(int32_t interval_ms) { timer.Interval(interval_ms); timer.Enabled(true); }
};

TEST_F(Pump, ATimerFiresOnlyWhileEnabledSurvivesTheWrapAndIsNotReentered) {
    timer.Interval(100);
    pump_ms(500);
    EXPECT_EQ(fired, 0) << "not enabled";
    start_timer(100);
    pump_ms(500);
    EXPECT_EQ(fired, 5);
    auto own = std::make_unique<Timer>();  // a timer whose handler destroys it
    own->on_timer([&] { own.reset(); });
    own->Interval(10);
    own->Enabled(true);
    pump_ms(50);
    EXPECT_EQ(own, nullptr);

    // Across the tick counter's wrap, and not re-entered by a nested pump.
    clock.set_tick(INT32_MAX - 20);
    fired = 0;
    int depth = 0, max_depth = 0;
    timer.on_timer([&] {
        ++fired;
        max_depth = std::max(max_depth, ++depth);
        pump_ms(300);  // a handler that waits three intervals
        --depth;
    });
    start_timer(50);
    pump_ms(100);
    EXPECT_GE(fired, 1);
    EXPECT_EQ(max_depth, 1);
}

// A stop request (SIGTERM) is tested where the module ends on one.
TEST_F(Pump, AWaitRunsOutOrEndsByItsStopConditionOrAfterThePauseWhenTheCounterRunsBackwards) {
    // min_ms and max_ms bound the time waited, by the clock.
    const struct { double duration_ms, stop_at_ms; int32_t start_tick; bool stopped, backwards; double min_ms, max_ms; }
        rows[] = {
        {100, 1e9, 1000, false, false, 100, 100},  // a round ends early where the timer falls due
        {1000, 60, 1000, true, false, 60, 70},     // no round after the stop
        {60000, 1e9, INT32_MAX - 50, false, true, 51 + 200, 51 + 35 + 200},  // detected in the round it wrapped
    };
    start_timer(50);
    for (const auto& r : rows) {
        clock.set_tick(r.start_tick);
        std::vector<double> elapsed, left;  // each round the stop condition sees
        int told = 0;
        const double utc_before = clock.utc();
        const auto stop = [&](const WaitProgress& at) {
            elapsed.push_back(at.elapsed_ms);
            left.push_back(at.left_ms);
            return at.elapsed_ms >= r.stop_at_ms;
        };
        const WaitResult w = pump_wait(r.duration_ms, {35, 200}, stop, [&] { ++told; });
        const double waited_ms = (clock.utc() - utc_before) * 86400000.0;
        EXPECT_EQ(w.stopped, r.stopped) << r.duration_ms;
        EXPECT_EQ(w.counter_ran_backwards, r.backwards) << r.duration_ms;
        EXPECT_EQ(told, r.backwards ? 1 : 0) << r.duration_ms;
        EXPECT_GE(waited_ms, r.min_ms - 0.01) << r.duration_ms;
        EXPECT_LE(waited_ms, r.max_ms + 0.01) << r.duration_ms;
        ASSERT_GE(left.size(), 3u) << "rounds of 35 ms at most";
        EXPECT_EQ(left.front(), r.duration_ms);
        for (size_t i = 0; i < left.size(); ++i) {
            EXPECT_GE(elapsed[i], 0) << "the stop condition never sees the counter run backwards";
            EXPECT_DOUBLE_EQ(elapsed[i] + left[i], r.duration_ms);
        }
        if (r.stopped) { EXPECT_EQ(w.elapsed_ms + w.left_ms, r.duration_ms); }
        if (!r.backwards) { EXPECT_NEAR(w.elapsed_ms, waited_ms, 0.01) << r.duration_ms; }
        if (&r == rows) { EXPECT_EQ(fired, 2) << "the timer runs meanwhile"; }
    }
}

} // namespace
} // namespace ktr::platform
