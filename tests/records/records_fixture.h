// The records tests' fixture is the shared one that saves and restores the module's state.
#pragma once

#include "fakes/module_state.h"

namespace ktr::testing {
class RecordsTest : public ModuleStateTest {};
} // namespace ktr::testing
