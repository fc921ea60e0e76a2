#include "app/startup.h"

#include <string>

#include "config/options.h"
#include "config/program.h"
#include "platform/files.h"
#include "records/debug_log.h"

namespace ktr::app {

std::vector<std::string> get_command_args(std::string_view command_line, int max_args) {
    std::vector<std::string> words(1);  // index 0 stays empty
    bool in_word = false;
    for (const char c : command_line) {
        if (c == ' ' || c == '\t') {
            in_word = false;
            continue;
        }
        if (!in_word) {
            if (static_cast<int>(words.size()) - 1 >= max_args) break;
            words.emplace_back();
            in_word = true;
        }
        words.back() += c;
    }
    return words;
}

CommandFlags apply_command_words(const std::vector<std::string>& words) {
    auto& program = config::program();
    const std::string folder = platform::program_folder();
    auto& debug = records::debug_state();
    debug.file_path = platform::join_path(folder, "DebugFile.txt");
    program.help_file = platform::join_path(folder, "ZKEnt.hlp");

    CommandFlags flags;
    for (size_t i = 1; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (w == "once") {
            flags.once = true;
        } else if (w == "screen") {
            debug.on = true;
            debug.to_file = false;
        } else if (w == "debug") {
            debug.on = true;
            debug.to_file = true;
            records::set_debug_file_mode(true);
        } else if (w == "removereg") {
            flags.remove_registration = true;
        } else if (w == "background") {
            flags.background = true;
        }
    }
    return flags;
}

int Main(std::string_view command_line) {
    const CommandFlags flags = apply_command_words(get_command_args(command_line, 4));
    (void)flags;
    if (records::debug_on()) {
        records::debug_write("");
        records::debug_write("------------------------------------------------------------");
        records::debug_write(config::program_comments());
    }
    return 0;
}

int run_main(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line += ' ';
        line += argv[i];
    }
    return Main(line);
}

} // namespace ktr::app
