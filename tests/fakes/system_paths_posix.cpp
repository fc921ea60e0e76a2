#include <filesystem>

#include "fakes/system_paths.h"

namespace ktr::testing {

std::string this_program_folder() {
    std::error_code ec;
    return std::filesystem::read_symlink("/proc/self/exe", ec).parent_path().string();
}

std::string short_path(const std::string& path) { return path; }

bool under_wine() { return false; }

} // namespace ktr::testing
