// What each OS backend (platform/posix/, platform/win32/) supplies to the platform code that all backends
// share. Only platform/ includes this header.
#pragma once

#include <vector>

#include "platform/event_pump.h"
#include "platform/handle.h"

namespace ktr::platform::backend {

// One handle of a pump round: what it is watched for, and what the backend found ready.
struct HandleWait {
    OsHandle handle;
    HandleEvents interest = HandleEvents::none;
    HandleEvents ready = HandleEvents::none;
};
// Waits at most timeout_ms (0: only looks) until a handle has one of its events; fills the ready sets.
// Returns how many handles are ready (0 when none, also when a signal cut the wait short).
int wait_for_handles(std::vector<HandleWait>& handles, int timeout_ms);

} // namespace ktr::platform::backend
