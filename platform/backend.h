// What each OS backend (platform/posix/, platform/win32/) supplies to the platform code that all backends
// share. Only platform/ includes this header.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/clock.h"
#include "platform/event_pump.h"
#include "platform/handle.h"
#include "platform/locale.h"

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

// A moment of the machine's clock: time since 1970-01-01 00:00 UTC.
struct Instant {
    int64_t seconds = 0;
    int64_t nanoseconds = 0;  // 0 to 999999999
};

// The machine's clock as the backend reads and sets it; the real and the simulated clock are built on it.
class MachineClock {
public:
    virtual ~MachineClock() = default;
    virtual Instant now() = 0;
    // Sets the machine's clock; false (pending error filled) when the system refuses.
    virtual bool set(const Instant& when) = 0;
    virtual DateParts parts_at(const Instant& when, bool local) = 0;
    // The moment of a local time by the time-zone rules; nothing (pending error filled) when there is none.
    virtual std::optional<Instant> local_moment(const DateParts& local) = 0;
    virtual TimeZoneInfo zone_at(const Instant& when) = 0;
    virtual int32_t tick_count() = 0;
};
std::unique_ptr<MachineClock> make_machine_clock();

// Fills the pending error for an argument the system refuses (a date that does not exist).
void set_invalid_argument_error();

// Carries out a power request (flags of power.h) for real; false with the last error set when it fails.
bool carry_out_power_request(uint32_t flags);

// The system's date and time conventions; nothing when it has none of its own.
std::optional<LocaleInfo> read_system_locale();

} // namespace ktr::platform::backend
