// Shared set-up of the engine tests: the module's state saved and restored (a standing fake clock, the
// United States date conventions, the debug log captured), and the day order put back.
#pragma once

#include "engine/time_util.h"
#include "fakes/module_state.h"

namespace ktr::engine {

class EngineTest : public testing::ModuleStateTest {
protected:
    ~EngineTest() override { set_month_first(false); }
};

} // namespace ktr::engine
