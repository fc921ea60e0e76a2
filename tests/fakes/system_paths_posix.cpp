#include "fakes/system_paths.h"

namespace ktr::testing {

std::string short_path(const std::string& path) { return path; }

bool under_wine() { return false; }

} // namespace ktr::testing
