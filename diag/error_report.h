// The one error-report routine of all units, and the NT event channel it reports to.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/event_log.h"

namespace ktr::diag {

enum class Severity : int16_t { information = 1, problem = 2, error = 3, critical = 4 };

// What the reports need from the layers above, handed over at start-up.
struct ReportSettings {
    std::string title = "Ktrsvc";          // the application title events are logged under
    std::function<bool()> nt_event_log;    // whether reports go to the NT event log (none: they do not)
};
ReportSettings& report_settings();

// Turns a caught failure (the pending-error record) or a condition of the caller's own into one report
// for the NT event log (when switched on) and the debug log; clears the pending error. An error or
// critical report without a pending failure is dropped.
void error_report(Severity severity, std::string_view message, std::string_view module, std::string_view procedure,
                  int16_t id);

// Writes one record to the system's application event log under the application title.
void log_nt_event(std::string_view text, platform::EventType type, int32_t event_id);

} // namespace ktr::diag
