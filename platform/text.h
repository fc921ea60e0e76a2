// Small text helpers every layer shares. Letters are the ASCII ones: other bytes (the locale's own letters
// in UTF-8) pass unchanged, so results never depend on the C library's locale.
#pragma once

#include <string>
#include <string_view>

namespace ktr::platform {

char lower_char(char c);
char upper_char(char c);
std::string to_lower(std::string_view text);
std::string to_upper(std::string_view text);

// Same text apart from the case of its letters.
bool equals_no_case(std::string_view a, std::string_view b);
// Where what first occurs in text, ignoring case; npos when it does not (or text is empty).
size_t find_no_case(std::string_view text, std::string_view what);

bool is_digit(char c);

// The characters from 1-based position start, at most length of them (the runtime's Mid); empty when
// start is 0 or past the end.
std::string mid(std::string_view text, size_t start, size_t length = std::string_view::npos);

// The first count characters of a UTF-8 text: a character of several bytes is kept whole or left out.
std::string first_characters(std::string_view text, size_t count);

} // namespace ktr::platform
