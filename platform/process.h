// Starting other programs: the command line is split into words the way a POSIX shell splits quoted
// words (on every backend), but no shell runs it, so nothing in the text is expanded or interpreted.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ktr::platform {

// Splits a command line into words: blanks and tabs separate words; '...' keeps everything literally;
// "..." keeps everything but lets a backslash escape " \ $ and `; outside quotes a backslash keeps the
// next character. Nothing when a quote is left open or the line ends in a lone backslash.
std::optional<std::vector<std::string>> split_command_line(std::string_view line);

// The words of a command line that is to start a program; nothing (pending error filled with the system's
// number given for each case) when a quote is left open or the line names no program.
std::optional<std::vector<std::string>> program_words(std::string_view line, int32_t unbalanced_number,
                                                      int32_t empty_number);

// Window states of a started program (ignored where programs have no window).
inline constexpr int kWindowMinimizedFocus = 2;

// Starts the program named by the first word (looked up in PATH) with the other words as its
// arguments, with no input, in a session of its own, and does not wait for it. False (pending
// error filled) when the line has no words, a quote is open or the program cannot be started.
bool start_program(std::string_view command_line, int window_state = kWindowMinimizedFocus);

// Collects the exit status of programs started earlier that have ended, so that nothing of them lingers
// in the system. Called by start_program itself; a timer may call it too. Returns how many are still running.
int reap_started_programs();

// Runs a program (words as given, looked up in PATH) and waits at most timeout_ms for it to end.
// Its exit status, or nothing (pending error filled) when it could not be started or did not end in
// time (it is then left running and reaped later).
std::optional<int> run_and_wait(const std::vector<std::string>& words, int timeout_ms);

// Like run_and_wait, and returns what the program wrote to its standard output.
std::optional<int> run_and_capture(const std::vector<std::string>& words, int timeout_ms, std::string& output);

} // namespace ktr::platform
