// Shared set-up of the engine tests: empty options (restored afterwards), a fake clock, the United States
// date conventions and the debug log captured.
#pragma once

#include <gtest/gtest.h>

#include "config/options.h"
#include "engine/time_util.h"
#include "fakes/fake_clock.h"
#include "fakes/scoped_locale.h"
#include "fakes/trace_capture.h"
#include "platform/date_value.h"

namespace ktr::engine {

class EngineTest : public ::testing::Test {
protected:
    EngineTest() { config::options() = config::COptions{}; }
    ~EngineTest() override {
        config::options() = saved_;
        set_month_first(false);
    }

    config::COptions saved_ = config::options();
    ktr::testing::FakeClock clock_;
    ktr::testing::ScopedFakeClock scoped_{clock_};
    ktr::testing::ScopedLocale locale_{platform::us_locale()};
    ktr::testing::TraceCapture trace_;
};

} // namespace ktr::engine
