// Tracing into a file for the life of an object, the previous debug state put back afterwards.
#pragma once

#include <string>

#include "diag/debug_log.h"
#include "fakes/temp_dir.h"

namespace ktr::testing {

class ScopedTrace {
public:
    explicit ScopedTrace(std::string path) : saved_(diag::debug_state()) {
        diag::debug_state() = {true, true, std::move(path)};
        diag::set_debug_file_mode(true);
    }
    ~ScopedTrace() {
        diag::set_debug_file_mode(false);
        diag::debug_state() = saved_;
    }
    ScopedTrace(const ScopedTrace&) = delete;
    ScopedTrace& operator=(const ScopedTrace&) = delete;

private:
    diag::DebugState saved_;
};

// Traces into a temporary file of its own and reads the lines back.
class TraceCapture {
public:
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
    ScopedTrace trace_{dir_.file("debug.txt")};
};

} // namespace ktr::testing
