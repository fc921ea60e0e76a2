// A local time read as a moment by the zone's rules, given only the way from a moment to its local time
// (which is all the system offers for every year's rules). Kept free of system headers so it can be tested
// with made-up zones.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

namespace ktr::platform {

// Moments and local times in 100 ns ticks; nothing when a moment is beyond what the system converts.
using LocalTimeOf = std::function<std::optional<int64_t>(int64_t moment)>;

inline constexpr int64_t kTicksPerDay = 864000000000LL;

// The moment whose local time is `local`. When the clocks went back (the time occurs twice) the earlier
// moment; when they went forward (the time never occurs) the time is read with the offset in force before
// the change, so it lands as far past the change as it was into it, as the C library's mktime does.
inline std::optional<int64_t> moment_of_local(int64_t local, const LocalTimeOf& local_time_of) {
    // A zone is less than a day from UTC and its offset changes at most once in two days, so the offsets a
    // day either side of the time read as UTC are the only ones that can apply.
    std::optional<int64_t> found;
    std::optional<int64_t> first_offset;  // the one before the time when the system has it
    for (const int64_t probe : {local - kTicksPerDay, local + kTicksPerDay}) {
        const auto probe_local = local_time_of(probe);
        if (!probe_local) continue;
        const int64_t offset = *probe_local - probe;
        if (!first_offset) first_offset = offset;
        const int64_t candidate = local - offset;
        const auto back = local_time_of(candidate);
        if (back && *back == local && (!found || candidate < *found)) found = candidate;
    }
    if (found) return found;
    if (first_offset) return local - *first_offset;
    return std::nullopt;
}

} // namespace ktr::platform
