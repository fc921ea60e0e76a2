#include <gtest/gtest.h>

#include "app/time_obj.h"
#include "platform/event_pump.h"
#include "fakes/fake_clock.h"
#include "fakes/trace_capture.h"
#include "server/waits.h"

namespace ktr::app {
namespace {

// The pump's pauses advance the fake tick counter; a scripted handler runs from the pump at a given tick, as
// the service's requests do.
struct FakeWait : ::testing::Test {
    testing::FakeClock clock;
    testing::ScopedFakeClock scoped{clock};
    testing::TraceCapture trace;
    CTimeObj obj;
    int pauses_seen = 0;
    testing::ScopedFakePauses pauses{clock, [this] { ++pauses_seen; }};
    platform::Timer event;
    void after(int32_t ms, std::function<void()> f) {
        event.Interval(ms);
        event.on_timer([this, f = std::move(f)] { event.Enabled(false), f(); });
        event.Enabled(true);
    }
};

TEST_F(FakeWait, WaitsRunOutOrSleepIsInterruptedWithTheWholeSecondsLeftAndTheFlagConsumed) {
    int seconds = 0, seen = -1;
    after(2000, [&] { obj.RequestRemaining(); });
    const int32_t start = clock.tick_count();
    EXPECT_EQ(obj.Sleep(5, [&] {
        ++seconds;
        if (seen < 0 && obj.Remaining() > 0) seen = obj.Remaining();
    }), 0);
    EXPECT_NEAR(clock.tick_count() - start, 5050, 50);
    EXPECT_NEAR(seconds, 8.5, 3.5) << "once or twice a second";
    EXPECT_EQ(seen, 3);

    after(10000, [&] { obj.InterruptFlag(true); });
    EXPECT_EQ(obj.Sleep(60, nullptr), 50);
    EXPECT_FALSE(obj.InterruptFlag());

    obj.InterruptFlag(true);  // set before the wait: cleared at its start
    EXPECT_EQ(obj.Sleep(1, nullptr), 0);
    EXPECT_FALSE(obj.InterruptFlag());

    // Without a callback an idle wait does not wake before its end; with one it looks every 35 ms.
    pauses_seen = 0;
    EXPECT_EQ(obj.Sleep(60, nullptr), 0);
    EXPECT_LT(pauses_seen, 5) << "only the timers other tests left running end a pause early";
    pauses_seen = 0;
    obj.Sleep(1, [] {});
    EXPECT_NEAR(pauses_seen, 29, 1);
}

TEST_F(FakeWait, ACounterThatRunsBackwardsEndsEachWaitAfterItsPause) {
    const std::pair<std::function<void()>, double> waits[] = {
        {[&] { EXPECT_EQ(obj.Sleep(60, nullptr), 0); }, 1000},
        {[] { server::wait_seconds(30); }, 1000},
        {[] { server::wait_ms(5000); }, 100}};
    for (const auto& [wait, pause_ms] : waits) {
        clock.set_tick(INT32_MAX - 10);  // the signed counter wraps to negative within the first round
        const double before = clock.utc();
        wait();
        EXPECT_NEAR((clock.utc() - before) * 86400000.0, pause_ms + 50, 50);
    }
    EXPECT_EQ(trace.count("------->WINDOWS RESET!!!!!  Exiting loop!"), 3u);
}

} // namespace
} // namespace ktr::app
