// Files and the program folder.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "platform/handle.h"

namespace ktr::platform {

// The program folder: KTRSVC_HOME, else the folder of the running executable.
std::string program_folder();
// Overrides the program folder (tests); an empty folder returns to the default.
void set_program_folder(std::string folder);

// Folder + native separator + name (the design writes folder + "\" + name).
std::string join_path(std::string_view folder, std::string_view name);

enum class OpenResult { ok, not_found, other_error };
// Tries to open a file for reading and closes it again.
OpenResult try_open_for_reading(const std::string& path);
// True if the file can be opened for reading, or exists but cannot be opened (access denied).
inline bool file_exists(const std::string& path) { return try_open_for_reading(path) != OpenResult::not_found; }

// Appends text (bytes as given) to a file, creating it; false (pending error filled) on failure.
// Each call is an open-append-close so other programs may rotate the file between calls.
bool append_to_file(const std::string& path, std::string_view text);

// A text file kept open for appending; writes are unbuffered appends without a flush of their own.
class AppendFile {
public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;
    bool open(const std::string& path);  // false (pending error filled) on failure
    bool write(std::string_view text);   // false when not open or the write failed
    void close();
    bool is_open() const { return file_.valid(); }

private:
    OsHandle file_;
};

// Reads a whole file; false when it cannot be read.
bool read_file(const std::string& path, std::string& contents);
bool remove_file(const std::string& path);

// The path of the running executable.
std::string executable_path();

// How the name of a program file ends on this system.
#ifdef _WIN32
inline constexpr const char* kProgramSuffix = ".exe";
#else
inline constexpr const char* kProgramSuffix = "";
#endif

} // namespace ktr::platform

namespace ktr::platform {

// The 8.3 short form of a path. Paths here have no short form: an existing path comes back unchanged, a
// missing one as "".
std::string short_path_name(const std::string& path);

} // namespace ktr::platform
