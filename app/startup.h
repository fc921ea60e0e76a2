// Start-up: the program-wide paths, the command-line words, the debug switches and the options.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "config/options.h"

namespace ktr::app {

// The words of a command line at indexes 1..n (index 0 stays empty). A blank or a tab ends a word;
// scanning stops when a new word would start while max_args words are already held.
std::vector<std::string> get_command_args(std::string_view command_line, int max_args = 10);

// The command-line flags Main reads.
struct CommandFlags {
    bool once = false;
    bool remove_registration = false;
    bool background = false;
};

// The start of Main: fixes the program-wide paths and applies the words (debug switches included).
CommandFlags apply_command_words(const std::vector<std::string>& words);

// Where the options live: the registry root, base path, options key and settings key by operating-system family.
void set_registry_location();

// Whether the registry hive can be used; when not, says so in the debug log and the error report.
bool registry_usable();

// Fields of a delimited text file, as the runtime's list input reads them: leading blanks are skipped; a
// field that starts with a double quote runs to the closing quote (dropped, and anything up to the next
// delimiter with it); any other field ends at a comma or a line end, trailing blanks dropped.
class DelimitedReader {
public:
    explicit DelimitedReader(std::string_view text);
    // No field left (only blanks and line ends remain).
    bool at_end() const;
    // The next field; false when the text ended before one began.
    bool next_field(std::string& field);

private:
    std::string_view text_;
    size_t pos_ = 0;
};

// Reads the initial option file: name, value pairs applied with set_option_value.
void ReadInFile(const std::string& path, config::COptions& options);

// The batch mode entered when SettingMode is 0: ends without serving.
void once_mode();

// Hands the error reports the application title and the options' NT-event switch.
void connect_reports();

// Main: returns the process's exit code.
int Main(std::string_view command_line);

// The process entry: joins argv into the command-line text (without the program path) and runs Main.
int run_main(int argc, char** argv);

} // namespace ktr::app
