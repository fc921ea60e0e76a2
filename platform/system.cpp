// What every backend says alike about the process and the system.
#include "platform/system.h"

namespace ktr::platform {

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

} // namespace ktr::platform
