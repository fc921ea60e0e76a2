// The system event log (syslog(3) on POSIX, the application event log on Windows).
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace ktr::platform {

enum class EventType : int { error = 1, warning = 2, information = 4 };

// Writes one record under the given source name; false when it could not be reported.
bool report_system_event(std::string_view source, int event_type, int32_t event_id, std::string_view text);

// Sends the records to a function instead of the system log (tests); an empty function restores the log.
using EventRecorder = std::function<bool(std::string_view source, int event_type, int32_t event_id,
                                         std::string_view text)>;
void set_event_recorder(EventRecorder recorder);

} // namespace ktr::platform
