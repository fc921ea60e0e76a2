#include <gtest/gtest.h>

#include "app/time_obj.h"
#include "fakes/fake_clock.h"
#include "fakes/trace_capture.h"
#include "server/waits.h"

namespace ktr::app {
namespace {

using testing::FakeClock;

// The pump's pauses advance the fake tick counter; a scripted event may run at a given tick.
struct FakeWait : ::testing::Test {
    FakeClock clock;
    testing::ScopedFakeClock scoped{clock};
    std::function<void()> at_tick;
    int32_t when = 0;
    testing::ScopedFakePauses pauses{clock, [this] {
        if (at_tick && clock.tick_count() - when >= 0) {
            auto f = std::move(at_tick);
            at_tick = nullptr;
            f();
        }
    }};
    void after(int32_t ms, std::function<void()> f) {
        when = clock.tick_count() + ms;
        at_tick = std::move(f);
    }
};

TEST_F(FakeWait, SleepRunsOutWithZeroCallsNewSecondNearEachSecondAndTellsTheTimeLeftOnRequest) {
    CTimeObj obj;
    int seconds = 0;
    int32_t seen = -1;
    after(2000, [&] { obj.RequestRemaining(); });
    const int32_t start = clock.tick_count();
    EXPECT_EQ(obj.Sleep(5, [&] {
        ++seconds;
        if (seen < 0 && obj.Remaining() > 0) seen = obj.Remaining();
    }), 0);
    EXPECT_GE(clock.tick_count() - start, 5000);
    EXPECT_LT(clock.tick_count() - start, 5100);
    EXPECT_GE(seconds, 5);
    EXPECT_LE(seconds, 12) << "once or twice a second";
    EXPECT_EQ(seen, 3);
}

TEST_F(FakeWait, SleepInterruptReturnsTheWholeSecondsLeftAndConsumesTheFlag) {
    CTimeObj obj;
    testing::TraceCapture trace;
    after(10000, [&] { obj.InterruptFlag(true); });
    EXPECT_EQ(obj.Sleep(60, nullptr), 50);
    EXPECT_FALSE(obj.InterruptFlag());
    EXPECT_TRUE(trace.has("Interrupting sleep at 49.9") || trace.has("Interrupting sleep at 50"));
    EXPECT_FALSE(trace.has("Paused for")) << "no pause line on the interrupt path";

    after(59700, [&] { obj.InterruptFlag(true); });
    const int32_t left = obj.Sleep(60, nullptr);
    EXPECT_TRUE(left == 0 || left == 1) << left;

    // A flag set before the wait is cleared at its start.
    obj.InterruptFlag(true);
    EXPECT_EQ(obj.Sleep(1, nullptr), 0);
    EXPECT_FALSE(obj.InterruptFlag());
}

TEST_F(FakeWait, PlainWaitsTraceWhatTheyWaited) {
    testing::TraceCapture trace;
    const int32_t start = clock.tick_count();
    server::wait_ms(100);
    EXPECT_LT(clock.tick_count() - start, 110);
    EXPECT_TRUE(trace.has("Paused for 0100 milliseconds")) << trace.text();
    server::wait_seconds(2);
    EXPECT_GE(clock.tick_count() - start, 2100);
    EXPECT_TRUE(trace.has(" seconds"));
}

TEST_F(FakeWait, ACounterThatRunsBackwardsEndsEachWaitAfterItsPause) {
    testing::TraceCapture trace;
    CTimeObj obj;
    const std::pair<std::function<void()>, double> waits[] = {
        {[&] { EXPECT_EQ(obj.Sleep(60, nullptr), 0); }, 1000},
        {[] { server::wait_seconds(30); }, 1000},
        {[] { server::wait_ms(5000); }, 100}};
    for (const auto& [wait, pause_ms] : waits) {
        clock.set_tick(INT32_MAX - 10);  // the signed counter wraps to negative within the first round
        const double before = clock.utc();
        wait();
        const double waited_ms = (clock.utc() - before) * 86400000.0;
        EXPECT_GE(waited_ms, pause_ms);
        EXPECT_LT(waited_ms, pause_ms + 100);
    }
    EXPECT_EQ(trace.count("------->WINDOWS RESET!!!!!  Exiting loop!"), 3u);
}

} // namespace
} // namespace ktr::app
