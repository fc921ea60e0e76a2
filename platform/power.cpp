// What every backend shares of the power requests: their names and the simulated requests.
#include "platform/power.h"

#include <cstdio>

#include "platform/backend.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/system.h"

namespace ktr::platform {
namespace {

void record_simulated(uint32_t flags, uint32_t reason) {
    const DateParts t = clock().local_now();
    char line[160];
    std::snprintf(line, sizeof line, "%04d-%02d-%02d %02d:%02d:%02d  Flags: %u (%s), reason: %u\n", t.year, t.month,
                  t.day, t.hour, t.minute, t.second, flags, describe_power_request(flags).c_str(), reason);
    append_to_file(join_path(program_folder(), kPowerActionsFile), line);
}

} // namespace

std::string describe_power_request(uint32_t flags) {
    std::string what = (flags & kExitPowerOff) ? "Power-off"
                       : (flags & kExitReboot) ? "Reboot"
                       : (flags & kExitShutdown) ? "Shutdown"
                                                 : "Logoff";
    if (flags & kExitForce) what += ", forced";
    return what;
}

int ExitWindowsEx(uint32_t flags, uint32_t reason) {
    if (simulating("power")) {
        record_simulated(flags, reason);
        SetLastError(kErrorSuccess);
        return 1;
    }
    const bool ok = backend::carry_out_power_request(flags);
    if (ok) SetLastError(kErrorSuccess);
    return ok ? 1 : 0;
}

} // namespace ktr::platform
