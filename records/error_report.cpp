#include "records/error_report.h"

#include <string>

#include "config/options.h"
#include "config/program.h"
#include "platform/event_log.h"
#include "platform/pending_error.h"
#include "records/debug_log.h"

namespace ktr::records {

int16_t error_report(int16_t severity, std::string_view message, std::string_view module,
                     std::string_view procedure, int16_t id) {
    const platform::PendingError err = platform::pending_error();
    if (severity > 2 && err.number == 0) return 0;

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
    if (severity == 4) report += "\r\rDo you wish to continue?";

    if (severity > 1 && config::options().LoggingNTEvntOn()) {
        const int16_t type = severity == 2 ? 4 : 2;
        log_nt_event(report, type, 1);
    }

    if (debug_on()) {
        std::string line = "ERROR  Severity:" + std::to_string(severity) + ", Err:" + std::to_string(err.number) +
                           ", Desc:" + err.description + ", " + header + ", Msg:";
        line += message;
        line += ", Resp:0";
        debug_write(line, false);
    }

    platform::clear_pending_error();
    return 0;
}

void log_nt_event(std::string_view text, int16_t event_type, int32_t event_id) {
    // A failed report is read and discarded: nothing reaches the caller.
    if (!platform::report_system_event(config::program().title, event_type, event_id, text))
        platform::clear_pending_error();
}

} // namespace ktr::records
