// Command-line splitting, shared by every backend: the words are the same whatever starts the program.
#include "platform/process.h"

#include "platform/pending_error.h"

namespace ktr::platform {

std::optional<std::vector<std::string>> split_command_line(std::string_view line) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (in_word) words.push_back(std::move(word));
            word.clear();
            in_word = false;
            ++i;
        } else if (c == '\'') {
            const auto end = line.find('\'', i + 1);
            if (end == std::string_view::npos) return std::nullopt;
            word.append(line.substr(i + 1, end - i - 1));
            in_word = true;
            i = end + 1;
        } else if (c == '"') {
            in_word = true;
            ++i;
            for (;;) {
                if (i >= line.size()) return std::nullopt;
                const char d = line[i];
                if (d == '"') {
                    ++i;
                    break;
                }
                if (d == '\\' && i + 1 < line.size() &&
                    (line[i + 1] == '"' || line[i + 1] == '\\' || line[i + 1] == '$' || line[i + 1] == '`')) {
                    word += line[i + 1];
                    i += 2;
                } else {
                    word += d;
                    ++i;
                }
            }
        } else if (c == '\\') {
            if (i + 1 >= line.size()) return std::nullopt;
            word += line[i + 1];
            in_word = true;
            i += 2;
        } else {
            word += c;
            in_word = true;
            ++i;
        }
    }
    if (in_word) words.push_back(std::move(word));
    return words;
}

std::optional<std::vector<std::string>> program_words(std::string_view line, int32_t unbalanced_number,
                                                      int32_t empty_number) {
    auto words = split_command_line(line);
    if (!words) {
        set_pending_error(unbalanced_number, "Unbalanced quotes in the command line");
        return std::nullopt;
    }
    if (words->empty()) {
        set_pending_error(empty_number, "No program named in the command line");
        return std::nullopt;
    }
    return words;
}

} // namespace ktr::platform
