// The system event log (syslog(3) on POSIX, the application event log on Windows).
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace ktr::platform {

enum class EventType : int { error = 1, warning = 2, information = 4 };

// Writes one record under the given source name; false when it could not be reported.
bool report_system_event(std::string_view source, int event_type, int32_t event_id, std::string_view text);

// Makes the source known to the system log with the file that holds its record texts (the module's own
// executable), so that a viewer shows each record's text; false (pending error set) when that is refused.
// Nothing to do where the log needs no such registration.
bool register_event_source(std::string_view source, std::string_view message_file);

// Sends the records to a function instead of the system log (tests); an empty function restores the log.
using EventRecorder = std::function<bool(std::string_view source, int event_type, int32_t event_id,
                                         std::string_view text)>;
void set_event_recorder(EventRecorder recorder);

} // namespace ktr::platform
