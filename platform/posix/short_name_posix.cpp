#include <sys/stat.h>

#include "platform/files.h"

namespace ktr::platform {

std::string short_path_name(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return {};
    return path;
}

} // namespace ktr::platform
