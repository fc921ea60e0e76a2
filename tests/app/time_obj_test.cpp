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

TEST_F(FakeWait, SleepRunsOutWithZeroAndCallsNewSecondNearEachSecond) {
    CTimeObj obj;
    int seconds = 0;
    const int32_t start = clock.tick_count();
    EXPECT_EQ(obj.Sleep(5, [&] { ++seconds; }), 0);
    EXPECT_GE(clock.tick_count() - start, 5000);
    EXPECT_LT(clock.tick_count() - start, 5100);
    EXPECT_GE(seconds, 5);
    EXPECT_LE(seconds, 12) << "once or twice a second";
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

TEST_F(FakeWait, SleepACounterThatRunsBackwardsEndsTheWaitAfterOneSecond) {
    CTimeObj obj;
    testing::TraceCapture trace;
    clock.set_tick(INT32_MAX - 3000);
    const double utc_before = clock.utc();
    // The signed counter wraps to negative two seconds into the wait.
    EXPECT_EQ(obj.Sleep(60, nullptr), 0);
    const double waited_ms = (clock.utc() - utc_before) * 86400000.0;
    EXPECT_GE(waited_ms, 3000 + 1000 - 1);
    EXPECT_LT(waited_ms, 3000 + 1000 + 100);
    EXPECT_TRUE(trace.has("------->WINDOWS RESET!!!!!  Exiting loop!"));
}

TEST_F(FakeWait, SleepPublishesTheRemainingTimeOnRequest) {
    CTimeObj obj;
    after(20000, [&] { obj.RequestRemaining(); });
    int32_t seen = -1;
    obj.Sleep(30, [&] {
        if (seen < 0 && obj.Remaining() > 0) seen = obj.Remaining();
    });
    EXPECT_EQ(seen, 10);
}

TEST_F(FakeWait, PlainWaitMsTracesItsMillisecondsAndWaitSecondsItsSeconds) {
    testing::TraceCapture trace;
    const int32_t start = clock.tick_count();
    server::wait_ms(100);
    EXPECT_GE(clock.tick_count() - start, 100);
    EXPECT_LT(clock.tick_count() - start, 110);
    EXPECT_TRUE(trace.has("Paused for ")) << trace.text();
    EXPECT_TRUE(trace.has(" milliseconds"));
    server::wait_seconds(2);
    EXPECT_GE(clock.tick_count() - start, 2100);
    EXPECT_TRUE(trace.has(" seconds"));
}

TEST_F(FakeWait, PlainWaitsEndOnACounterRestartToo) {
    clock.set_tick(INT32_MAX - 10);
    const double before = clock.utc();
    server::wait_seconds(30);
    EXPECT_LT((clock.utc() - before) * 86400000.0, 1200);
    clock.set_tick(INT32_MAX - 10);
    const double again = clock.utc();
    server::wait_ms(5000);
    EXPECT_LT((clock.utc() - again) * 86400000.0, 200);
}

} // namespace
} // namespace ktr::app
