// Shared helpers of the engine tests: the debug log captured to a temporary file, and a way into the
// engine's private decoders.
#pragma once

#include <span>
#include <string>

#include "engine/nist_timeset.h"
#include "fakes/temp_dir.h"
#include "records/debug_log.h"

namespace ktr::engine {

struct CNISTtimesetAccess {
    static bool decode_ntp_reply(CNISTtimeset& e, std::span<const uint8_t> p) { return e.decode_ntp_reply(p); }
    static bool decode_time_reply(CNISTtimeset& e, std::span<const uint8_t> p) { return e.decode_time_reply(p); }
    static bool check_ntp_mode(uint8_t b) { return CNISTtimeset::check_ntp_mode(b); }
    static bool check_reply_date(double d) { return CNISTtimeset::check_reply_date(d); }
    static void compare_ntp_time(CNISTtimeset& e, int16_t& status) { e.compare_ntp_time(status); }
};

namespace testing {

// Turns tracing on into a temporary debug file for the life of the object.
class DebugCapture {
public:
    DebugCapture() {
        auto& st = records::debug_state();
        st.on = true;
        st.to_file = true;
        st.file_path = dir_.file("debug.log");
        records::set_debug_file_mode(true);
    }
    ~DebugCapture() {
        records::set_debug_file_mode(false);
        records::debug_state() = records::DebugState{};
    }
    std::string text() const { return dir_.read("debug.log"); }
    bool has(const std::string& fragment) const { return text().find(fragment) != std::string::npos; }

private:
    ktr::testing::TempDir dir_;
};

} // namespace testing
} // namespace ktr::engine
