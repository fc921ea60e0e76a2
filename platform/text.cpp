#include "platform/text.h"

#include <algorithm>

namespace ktr::platform {

char lower_char(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
char upper_char(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string to_lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = lower_char(c);
    return out;
}

std::string to_upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = upper_char(c);
    return out;
}

bool equals_no_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower_char(x) == lower_char(y); });
}

size_t find_no_case(std::string_view text, std::string_view what) {
    const auto it = std::search(text.begin(), text.end(), what.begin(), what.end(),
                                [](char x, char y) { return lower_char(x) == lower_char(y); });
    return it == text.end() ? std::string_view::npos : static_cast<size_t>(it - text.begin());
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string first_characters(std::string_view text, size_t count) {
    size_t end = 0;
    for (size_t chars = 0; end < text.size(); ++end) {
        // A byte that does not continue a character starts the next one.
        if ((static_cast<unsigned char>(text[end]) & 0xC0) != 0x80 && chars++ == count) break;
    }
    return std::string(text.substr(0, end));
}

std::string mid(std::string_view text, size_t start, size_t length) {
    if (start < 1 || start > text.size()) return {};
    return std::string(text.substr(start - 1, length));
}

} // namespace ktr::platform
