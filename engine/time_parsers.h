// The text parsers of the engine: NIST daytime lines (and the console's own short forms), ACTS lines and
// daytime lines with the weekday first. Each returns what it read as a value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ktr::engine {

// What the decoders read from a server's string or reply. A parse starts from the previous reading, so a
// field that the string lacks keeps its last value.
struct ServerReading {
    int32_t julian_days = 0;  // Modified Julian Day; 0 when the line has none
    std::string date;         // the date text as received (daytime, custom: rebuilt)
    std::string time;         // HH:MM:SS, the fraction stripped
    int16_t dst = 0;          // the NIST daylight code; 50 = daylight time in force
    int16_t leap = 0;         // the leap-second flag
    int16_t health = 0;       // 0 healthy; 3 = an SNTP peer not in server mode
    float advance = 0;        // the server's advance, milliseconds
    std::string label;        // the label after the advance, such as UTC(NIST)
    float fraction = 0;       // of a second, to add to the time
    std::string command;      // "S" or "F" from the console's set or force prefix

    // A healthy server whose advance is at most one second.
    bool server_ok() const { return health == 0 && advance <= 1000.0f; }
};

// A decoder's answer: whether it accepted the input, and the reading it leaves (a refused input may have
// read some fields before it was refused).
struct Decoded {
    bool ok = false;
    ServerReading reading;
};

Decoded NIST_parse_string(std::string_view sNIST, ServerReading reading);
Decoded ACTS_parse_string(std::string_view sNIST, ServerReading reading);
Decoded Daytime_parse_string(std::string_view sDaytime, ServerReading reading);

} // namespace ktr::engine
