// User-defined server layouts: a format string describes the server's time string element by element
// (both split at blanks); format tokens and literal characters alternate within an element.
#pragma once

#include <string>
#include <string_view>

namespace ktr::engine {

// Reads the server string by the format; on success the date text goes to date_out and the time text
// ("h:n:s marker") to time_out. On a count mismatch or an unrecognised date both become empty.
bool Custom_parse_string(std::string_view server, std::string_view format, std::string& date_out,
                         std::string& time_out);

// One step of the scan: takes the next value off the front of the server element as the front of the
// format element says, shortening both. True while the server element still has text to scan.
bool next_format_chunk(std::string_view& server, std::string_view& format, std::string& chunk, std::string& token);

// d, m, y, h, H, N, S, A and a.
bool is_format_letter(char c);

} // namespace ktr::engine
