// The program-wide pending-error record (number, description): a failing platform call fills it, the
// error report reads and clears it. Number 0 means no error.
#pragma once

#include <cstdint>
#include <string>

namespace ktr::platform {

struct PendingError {
    int32_t number = 0;
    std::string description;
};

const PendingError& pending_error();
void set_pending_error(int32_t number, std::string description);
void clear_pending_error();

} // namespace ktr::platform
