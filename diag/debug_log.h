// The debug log: program-wide debug state and the one trace-line writer.
#pragma once

#include <string>
#include <string_view>

namespace ktr::diag {

struct DebugState {
    bool on = false;       // tracing enabled
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

// Text from outside (a request, a command line) as a trace shows it: control characters are written
// escaped ("\r", "\n", "\t", "\xHH"), so that no received text can start a line of its own. A line end
// that closes the text (a time server's CR LF) stays as it is.
std::string escaped(std::string_view text);

// Looks for the marker file "debug.txt" in the program folder; returns the new value for debug on.
bool check_debug_marker(bool current);

// Whether the debug file is open (tests, status).
bool debug_file_open();

} // namespace ktr::diag

// Writes one trace line when debug is on. The arguments are evaluated only then, so a hot path builds no
// trace text while nobody reads it. KTR_TRACE(text) or KTR_TRACE(text, keep_line_open).
#define KTR_TRACE(...)                                                                                         \
    do {                                                                                                       \
        if (::ktr::diag::debug_on()) ::ktr::diag::debug_write(__VA_ARGS__);                                    \
    } while (0)
