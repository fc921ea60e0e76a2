// The system event log on POSIX is syslog(3): journald collects it.
#include <syslog.h>

#include <string>

#include "platform/event_log.h"

namespace ktr::platform {
namespace {
EventRecorder g_recorder;
}

void set_event_recorder(EventRecorder recorder) { g_recorder = std::move(recorder); }

// syslog takes any identifier.
bool register_event_source(std::string_view, std::string_view) { return true; }

bool report_system_event(std::string_view source, int event_type, int32_t event_id, std::string_view text) {
    if (g_recorder) return g_recorder(source, event_type, event_id, text);
    int priority = LOG_INFO;
    if (event_type == static_cast<int>(EventType::error))
        priority = LOG_ERR;
    else if (event_type == static_cast<int>(EventType::warning))
        priority = LOG_WARNING;
    // openlog keeps the pointer, so the ident must outlive the call: keep it per process.
    static std::string ident;
    ident.assign(source);
    openlog(ident.c_str(), LOG_PID, LOG_USER);
    const std::string body(text);
    syslog(priority, "[%d] %s", static_cast<int>(event_id), body.c_str());
    closelog();
    return true;
}

} // namespace ktr::platform
