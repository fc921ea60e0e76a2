// Small runtime conversions used across the module.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ktr::platform {

// Leading-number conversion (the runtime's Val): skips leading blanks, tabs and line feeds, reads an
// optional sign, digits, one decimal point and an exponent, ignoring blanks between digits; stops at the
// first other character. Also reads "&H" hex and "&O" octal. Text that does not start with a number gives 0.
double leading_number(std::string_view text);

// Splits at every single blank: two blanks in a row give an empty element; an empty text gives one
// empty element (the runtime's Split(text, " ")).
std::vector<std::string> split_blanks(std::string_view text);

// Rounding halves to even for 16- and 32-bit conversions (the runtime's CInt and CLng). Nothing when the
// value is out of range or not finite (the runtime's overflow error).
std::optional<int16_t> to_int16(double value);
std::optional<int32_t> to_int32(double value);

// Number from text as the runtime's CDbl/CInt of a string would take it: whole text must be a number
// (blanks around allowed). Nothing otherwise.
std::optional<double> text_to_number(std::string_view text);

// The runtime's Str/CStr of numbers: shortest text that reads back to the same value (no leading blank).
std::string number_to_text(double value);
// The same for single-precision values (their own shortest text, so 0.1f gives "0.1").
std::string single_to_text(float value);

} // namespace ktr::platform
