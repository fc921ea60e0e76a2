#include <unistd.h>

#include <cstdlib>

#include "platform/system.h"

namespace ktr::platform {

std::optional<std::string> get_env(const char* name) {
    const char* v = std::getenv(name);
    if (!v) return std::nullopt;
    return std::string(v);
}

bool simulating(std::string_view what) {
    const auto v = get_env("KTRSVC_SIMULATE");
    if (!v) return false;
    std::string_view rest = *v;
    while (!rest.empty()) {
        const auto comma = rest.find(',');
        std::string_view word = rest.substr(0, comma);
        while (!word.empty() && word.front() == ' ') word.remove_prefix(1);
        while (!word.empty() && word.back() == ' ') word.remove_suffix(1);
        if (word == what) return true;
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    return false;
}

std::string os_family() { return "Windows NT"; }

std::string host_name() {
    char buf[256] = {};
    if (gethostname(buf, sizeof buf - 1) != 0) return "localhost";
    return buf;
}

bool stdout_is_terminal() { return isatty(STDOUT_FILENO) == 1; }

// A POSIX program always has the descriptors its starter gave it.
void use_parent_console() {}

} // namespace ktr::platform
