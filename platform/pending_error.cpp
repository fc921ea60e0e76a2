#include "platform/pending_error.h"

namespace ktr::platform {
namespace {
PendingError g_pending;
}

const PendingError& pending_error() { return g_pending; }

void set_pending_error(int32_t number, std::string description) {
    g_pending.number = number;
    g_pending.description = std::move(description);
}

void clear_pending_error() {
    g_pending.number = 0;
    g_pending.description.clear();
}

} // namespace ktr::platform
