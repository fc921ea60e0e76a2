// Shared helpers of the engine tests: a way into the engine's private decoders, and the debug log capture.
#pragma once

#include <span>

#include "engine/nist_timeset.h"
#include "fakes/trace_capture.h"

namespace ktr::engine {

struct CNISTtimesetAccess {
    static bool decode_ntp_reply(CNISTtimeset& e, std::span<const uint8_t> p) { return e.decode_ntp_reply(p); }
    static bool decode_time_reply(CNISTtimeset& e, std::span<const uint8_t> p) { return e.decode_time_reply(p); }
    static bool check_ntp_mode(uint8_t b) { return CNISTtimeset::check_ntp_mode(b); }
    static bool check_reply_date(double d) { return CNISTtimeset::check_reply_date(d); }
    static void compare_ntp_time(CNISTtimeset& e, int16_t& status) { e.compare_ntp_time(status); }
};

namespace testing {
using DebugCapture = ktr::testing::TraceCapture;
} // namespace testing

} // namespace ktr::engine
