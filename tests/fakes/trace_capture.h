// Turns tracing on into a temporary debug file for the life of the object and reads the lines back.
#pragma once

#include <string>

#include "diag/debug_log.h"
#include "fakes/temp_dir.h"

namespace ktr::testing {

class TraceCapture {
public:
    TraceCapture() {
        auto& st = diag::debug_state();
        st.on = true;
        st.to_file = true;
        st.file_path = dir_.file("debug.txt");
        diag::set_debug_file_mode(true);
    }
    ~TraceCapture() {
        diag::set_debug_file_mode(false);
        auto& st = diag::debug_state();
        st.on = false;
        st.to_file = false;
    }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;
    std::string text() const { return dir_.read("debug.txt"); }
    bool has(const std::string& fragment) const { return text().find(fragment) != std::string::npos; }
    size_t count(const std::string& fragment) const {
        const std::string t = text();
        size_t n = 0;
        for (size_t at = t.find(fragment); at != std::string::npos; at = t.find(fragment, at + 1)) ++n;
        return n;
    }

private:
    TempDir dir_;
};

} // namespace ktr::testing
