// Placeholder until the full recognizer lands.
#include "platform/date_parse.h"

namespace ktr::platform {
std::optional<double> parse_date(std::string_view) { return std::nullopt; }
} // namespace ktr::platform
