// The one error-report routine of all units, and the NT event channel it reports to.
#pragma once

#include <cstdint>
#include <string_view>

namespace ktr::records {

// Severities: 1 Information, 2 Problem, 3 Error, 4 Critical.
// Turns a caught failure (the pending-error record) or a condition of the caller's own into one report
// for the NT event log (when LoggingNTEvntOn is set) and the debug log; clears the pending error.
// Always returns 0.
int16_t error_report(int16_t severity, std::string_view message, std::string_view module,
                     std::string_view procedure, int16_t id);

// Writes one record to the system's application event log under the application title.
void log_nt_event(std::string_view text, int16_t event_type, int32_t event_id);

} // namespace ktr::records
