// The system event log on Windows is the application event log, written through an event source named
// after the module.
#include <windows.h>

#include <map>
#include <string>

#include "platform/win32/win32_support.h"
#include "platform/event_log.h"

namespace ktr::platform {
namespace {

// The log's own record types have the interface's values.
static_assert(static_cast<int>(EventType::error) == EVENTLOG_ERROR_TYPE);
static_assert(static_cast<int>(EventType::warning) == EVENTLOG_WARNING_TYPE);
static_assert(static_cast<int>(EventType::information) == EVENTLOG_INFORMATION_TYPE);

EventRecorder g_recorder;

WORD record_type(int event_type) {
    switch (event_type) {
    case EVENTLOG_ERROR_TYPE:
    case EVENTLOG_WARNING_TYPE:
        return static_cast<WORD>(event_type);
    default:
        return EVENTLOG_INFORMATION_TYPE;
    }
}

// One registered source per name for the life of the process: the module reports under its one title,
// and registering costs a call into the event log service every time.
HANDLE source_handle(std::string_view source) {
    static std::map<std::string, HANDLE, std::less<>> sources;
    if (const auto it = sources.find(source); it != sources.end()) return it->second;
    HANDLE h = RegisterEventSourceW(nullptr, to_wide(source).c_str());
    if (h) sources.emplace(std::string(source), h);
    return h;
}

} // namespace

void set_event_recorder(EventRecorder recorder) { g_recorder = std::move(recorder); }

bool report_system_event(std::string_view source, int event_type, int32_t event_id, std::string_view text) {
    if (g_recorder) return g_recorder(source, event_type, event_id, text);
    HANDLE h = source_handle(source);
    if (!h) return false;
    const std::wstring body = to_wide(text);
    LPCWSTR strings[] = {body.c_str()};
    return ReportEventW(h, record_type(event_type), 0, static_cast<DWORD>(event_id), nullptr, 1, 0, strings,
                        nullptr) != FALSE;
}

} // namespace ktr::platform
