#include "diag/error_report.h"

#include <string>

#include "diag/debug_log.h"
#include "platform/event_log.h"
#include "platform/pending_error.h"

namespace ktr::diag {

ReportSettings& report_settings() {
    static ReportSettings settings;
    return settings;
}

void error_report(Severity severity, std::string_view message, std::string_view module, std::string_view procedure,
                  int16_t id) {
    const platform::PendingError err = platform::pending_error();
    if (severity > Severity::problem && err.number == 0) return;

    std::string header = "Origination: ";
    header += module;
    header += "\r\nID: ";
    header += procedure;
    header += " ";
    header += std::to_string(id);

    std::string system_text = " ";
    if (err.number != 0) system_text = "System Error: " + std::to_string(err.number) + "\rDescription: " + err.description;

    std::string report(message);
    report += "\r";
    report += header;
    report += "\r";
    report += system_text;
    if (severity == Severity::critical) report += "\r\rDo you wish to continue?";

    const auto& settings = report_settings();
    if (severity > Severity::information && settings.nt_event_log && settings.nt_event_log())
        log_nt_event(report, severity == Severity::problem ? platform::EventType::information : platform::EventType::warning, 1);

    KTR_TRACE("ERROR  Severity:" + std::to_string(static_cast<int>(severity)) + ", Err:" + std::to_string(err.number) +
              ", Desc:" + err.description + ", " + header + ", Msg:" + std::string(message) + ", Resp:0");

    platform::clear_pending_error();
}

void log_nt_event(std::string_view text, platform::EventType type, int32_t event_id) {
    // A failed report is read and discarded: nothing reaches the caller.
    if (!platform::report_system_event(report_settings().title, static_cast<int>(type), event_id, text))
        platform::clear_pending_error();
}

} // namespace ktr::diag
