// Process environment and facts about the system.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ktr::platform {

std::optional<std::string> get_env(const char* name);
// Whether KTRSVC_SIMULATE (comma-separated) names the given word, e.g. "clock" or "power".
bool simulating(std::string_view what);

// The operating-system family: "Windows NT" on this backend.
std::string os_family();

// The local computer's name.
std::string host_name();

// Whether standard output is a terminal.
bool stdout_is_terminal();

// A program without a console of its own (the windowed module) writes its help and traces to the console
// it was started from, if any. Output the starter redirected stays where it goes.
void use_parent_console();

} // namespace ktr::platform
