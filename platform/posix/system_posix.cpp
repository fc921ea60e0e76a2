#include <unistd.h>

#include <cstdlib>

#include "platform/system.h"

namespace ktr::platform {

std::optional<std::string> get_env(const char* name) {
    const char* v = std::getenv(name);
    if (!v) return std::nullopt;
    return std::string(v);
}

std::string host_name() {
    char buf[256] = {};
    if (gethostname(buf, sizeof buf - 1) != 0) return "localhost";
    return buf;
}

bool stdout_is_terminal() { return isatty(STDOUT_FILENO) == 1; }

// A POSIX program always has the descriptors its starter gave it.
void use_parent_console() {}

} // namespace ktr::platform
