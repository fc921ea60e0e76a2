// The debug log: program-wide debug state and the one trace-line writer.
#pragma once

#include <string>
#include <string_view>

namespace ktr::records {

struct DebugState {
    bool on = false;       // tracing enabled: callers test it before they build a trace text
    bool to_file = false;  // trace lines go to the debug file
    std::string file_path; // full path of the debug file
};

DebugState& debug_state();
inline bool debug_on() { return debug_state().on; }

// Appends text to the debug file with a "mm-dd hh:nn:ss  " time stamp and CR LF. With keep_line_open
// the line is left without its end, and the next call completes it. Never fails.
void debug_write(std::string_view text, bool keep_line_open = false);

// Opens (appending) or closes the debug file; neither changes the two flags.
void set_debug_file_mode(bool on);

// Looks for the marker file "debug.txt" in the program folder; returns the new value for debug on.
bool check_debug_marker(bool current);

// True if the file can be opened for reading, or exists but cannot be opened (access denied).
bool file_exists(const std::string& path);

// Whether the debug file is open (tests, status).
bool debug_file_open();

} // namespace ktr::records
