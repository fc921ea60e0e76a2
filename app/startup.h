// Start-up: the program-wide paths, the command-line words, the debug switches and the options.
#pragma once

#include <string>
#include <string_view>
#include <vector>

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

// Step 1 and 2 of Main: fixes the program-wide paths and applies the words (debug switches included).
CommandFlags apply_command_words(const std::vector<std::string>& words);

// Main: returns the process's exit code.
int Main(std::string_view command_line);

// The process entry: joins argv into the command-line text (without the program path) and runs Main.
int run_main(int argc, char** argv);

} // namespace ktr::app
