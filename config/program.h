// Program-wide values fixed at start-up: the application title, the help file and the registry location.
#pragma once

#include <cstdint>
#include <string>

namespace ktr::config {

inline constexpr uint32_t kHkeyCurrentUser = 0x80000001u;
inline constexpr uint32_t kHkeyLocalMachine = 0x80000002u;
inline constexpr uint32_t kHkeyUsers = 0x80000003u;

struct ProgramValues {
    std::string title = "Ktrsvc";  // also the application name of the settings store
    std::string help_file;
    uint32_t registry_root = kHkeyUsers;
    std::string registry_base = ".DEFAULT\\Software\\VB and VBA Program Settings\\";
    std::string options_key;   // base + title + "\Options"
    std::string settings_key;  // base + title + "\Settings"
};

ProgramValues& program();

// The program's three version numbers.
inline constexpr int kVersionMajor = KTRSVC_VERSION_MAJOR;
inline constexpr int kVersionMinor = KTRSVC_VERSION_MINOR;
inline constexpr int kVersionRevision = KTRSVC_VERSION_PATCH;
// The program's comments text (its build date).
std::string program_comments();

} // namespace ktr::config
