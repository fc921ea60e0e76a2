// Paths, files and facts as the system gives them, for expectations that differ between systems.
#pragma once

#include <cstdint>
#include <string>

#include "fakes/scoped_env.h"

namespace ktr::testing {

// The system's short (8.3) form of an existing path: the path itself where there is none (POSIX).
std::string short_path(const std::string& path);

// Whether the tests run under Wine, which cannot show some of what Windows does (those tests skip there).
bool under_wine();

#ifdef _WIN32
// The folder of the running test program.
std::string this_program_folder();

// Holds a file open without sharing it, as another program does that locks it (Windows only: POSIX has no
// lock that keeps others from opening a file).
class HeldFile : NoCopy {
public:
    explicit HeldFile(const std::string& path);
    ~HeldFile();
    bool ok() const { return handle_ != -1; }

private:
    intptr_t handle_ = -1;
};
#endif

} // namespace ktr::testing
