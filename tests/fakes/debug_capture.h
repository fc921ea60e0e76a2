// Sends trace lines to a file in a temporary folder for the life of the object, and reads them back.
#pragma once

#include <string>

#include "fakes/temp_dir.h"

namespace ktr::testing {

class DebugCapture {
public:
    DebugCapture();
    ~DebugCapture();
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;
    // Everything traced so far.
    std::string text() const;
    bool contains(const std::string& part) const { return text().find(part) != std::string::npos; }

private:
    TempDir dir_;
};

} // namespace ktr::testing
