#include "fakes/debug_capture.h"

#include "records/debug_log.h"

namespace ktr::testing {

DebugCapture::DebugCapture() {
    auto& s = records::debug_state();
    s.on = true;
    s.to_file = true;
    s.file_path = dir_.file("trace.txt");
    records::set_debug_file_mode(true);
}

DebugCapture::~DebugCapture() {
    records::set_debug_file_mode(false);
    auto& s = records::debug_state();
    s.on = false;
    s.to_file = false;
    s.file_path.clear();
}

std::string DebugCapture::text() const { return dir_.read("trace.txt"); }

} // namespace ktr::testing
