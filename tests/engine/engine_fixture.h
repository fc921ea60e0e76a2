// Shared set-up of the engine tests: the module's state saved and restored (a standing fake clock, the
// United States date conventions, the debug log captured), and the day order put back.
#pragma once

#include <string>

#include "engine/time_util.h"
#include "fakes/module_state.h"

namespace ktr::engine {

class EngineTest : public testing::ModuleStateTest {
protected:
    ~EngineTest() override { set_month_first(false); }
    size_t trace_count(const std::string& fragment) const {
        const std::string text = debug_text();
        size_t n = 0;
        for (size_t at = text.find(fragment); at != std::string::npos; at = text.find(fragment, at + 1)) ++n;
        return n;
    }
};

} // namespace ktr::engine
