// Tracing into a file for the life of an object, the previous debug state put back afterwards.
#pragma once

#include <string>

#include "diag/debug_log.h"
#include "fakes/scoped_env.h"
#include "fakes/temp_dir.h"

namespace ktr::testing {

inline size_t occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

struct ScopedTrace : OnScopeEnd {
    explicit ScopedTrace(std::string path) : OnScopeEnd([saved = diag::debug_state()] {
        diag::set_debug_file_mode(false);
        diag::debug_state() = saved;
    }) {
        diag::debug_state() = {true, true, std::move(path)};
        diag::set_debug_file_mode(true);
    }
};

// Traces into a temporary file of its own and reads the lines back.
class TraceCapture {
public:
    std::string text() const { return dir_.read("debug.txt"); }
    bool has(const std::string& fragment) const { return count(fragment) > 0; }
    size_t count(const std::string& fragment) const { return occurrences(text(), fragment); }

private:
    TempDir dir_;
    ScopedTrace trace_{dir_.file("debug.txt")};
};

} // namespace ktr::testing
