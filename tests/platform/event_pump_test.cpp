#include <gtest/gtest.h>

#include <csignal>

#include "fakes/fake_clock.h"
#include "fakes/pump_until.h"
#include "platform/event_pump.h"

namespace ktr::platform {
namespace {

using testing::FakeClock;
using testing::ScopedFakeClock;

// The pump's pauses move the fake clock instead of blocking.
struct FakeTime {
    FakeClock clock;
    ScopedFakeClock scoped{clock};
    testing::ScopedFakePauses pauses{clock};
};

// Lets the fake time pass in pump rounds of 10 ms.
void pump_ms(int ms) {
    for (int i = 0; i < ms / 10; ++i) pump_events(10);
}

TEST(Timer, FiresByTheTickCounterOnlyWhileEnabledWithAnInterval) {
    FakeTime t;
    Timer timer;
    int fired = 0;
    timer.on_timer([&] { ++fired; });
    timer.Interval(100);
    pump_ms(500);
    EXPECT_EQ(fired, 0) << "not enabled";
    timer.Enabled(true);
    pump_ms(500);
    EXPECT_EQ(fired, 5);
    timer.Interval(0);
    pump_ms(500);
    EXPECT_EQ(fired, 5) << "interval 0 stops it";
}

TEST(Timer, SurvivesTheTickCounterWrapAndIsNotReenteredByANestedPump) {
    FakeTime t;
    t.clock.set_tick(INT32_MAX - 20);
    Timer timer;
    int fired = 0;
    int depth = 0, max_depth = 0;
    timer.on_timer([&] {
        ++fired;
        max_depth = std::max(max_depth, ++depth);
        pump_ms(300);  // a handler that waits three intervals
        --depth;
    });
    timer.Interval(50);
    timer.Enabled(true);
    pump_ms(100);
    EXPECT_GE(fired, 1);
    EXPECT_EQ(max_depth, 1);
}

TEST(Timer, DestroyedByItsOwnHandlerIsSafe) {
    FakeTime t;
    auto timer = std::make_unique<Timer>();
    timer->on_timer([&] { timer.reset(); });
    timer->Interval(10);
    timer->Enabled(true);
    pump_ms(50);
    EXPECT_EQ(timer, nullptr);
}

TEST(StopRequests, ArriveAsEventsOfThePump) {
    int got = 0;
    StopRequest kind = StopRequest::interrupt;
    on_stop_request(StopRequest::terminate, [&](StopRequest k) {
        ++got;
        kind = k;
    });
    std::raise(SIGTERM);
    EXPECT_TRUE(testing::pump_until([&] { return got == 1; }, 2000));
    EXPECT_EQ(kind, StopRequest::terminate);
    on_stop_request(StopRequest::terminate, nullptr);
}

} // namespace
} // namespace ktr::platform
