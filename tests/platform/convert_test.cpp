#include <gtest/gtest.h>

#include <limits>

#include "platform/convert.h"
#include "platform/format.h"

namespace ktr::platform {
namespace {

TEST(LeadingNumber, ReadsTheNumberAtTheFrontAsTheRuntimeDoes) {
    const std::pair<const char*, double> rows[] = {
        {"12abc", 12}, {"-3.5e2x", -350}, {".25", 0.25}, {"1.2.3", 1.2}, {"+7", 7},
        {"2e", 2},                                // an exponent without digits is not part of the number
        {"3D2", 300},                             // the runtime's other exponent letter
        {" 1 2", 12}, {"\t\n 42", 42}, {"1 2 . 5", 12.5}, {"- 3", -3},  // blanks before and between digits
        {"abc", 0}, {"", 0}, {"-", 0}, {".", 0}, {"UTC(NIST)", 0},
        {"1e999", 0},                             // overflow gives no usable number, not infinity
        {"&H1F", 31}, {"&O17", 15}, {"&HFFFF", -1}, {"&H10000", 65536}, {"&HFFFFFFFF", -1},
        {"&H1FFFFFFFF", 0}, {"&H", 0},            // beyond 32 bits; no digits
    };
    for (const auto& [text, value] : rows) EXPECT_EQ(leading_number(text), value) << '"' << text << '"';
}

TEST(IntegerConversion, HalvesGoToTheEvenNeighbourAndOutOfRangeGivesNothing) {
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const struct { double value; std::optional<int16_t> int16; std::optional<int32_t> int32; } rows[] = {
        {2.5, 2, 2}, {3.5, 4, 4}, {-2.5, -2, -2}, {-3.5, -4, -4}, {2.5001, 3, 3}, {-1234567.5, {}, -1234568},
        {32767.4, 32767, 32767}, {32767.5, {}, 32768}, {-32768.5, -32768, -32768}, {-32769.0, {}, -32769},
        {2147483647.5, {}, {}}, {-2147483648.0, {}, INT32_MIN}, {-2147483649.0, {}, {}}, {nan, {}, {}}, {inf, {}, {}},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(to_int16(r.value), r.int16) << r.value;
        EXPECT_EQ(to_int32(r.value), r.int32) << r.value;
    }
}

TEST(TextToNumber, TakesOnlyAWholeNumber) {
    const std::pair<const char*, std::optional<double>> rows[] = {
        {" -5.5 ", -5.5}, {"+.5", 0.5}, {"5.", 5}, {"1e3", 1000}, {"&H10", 16}, {"12abc", {}}, {"1 2", {}}, {"", {}},
        {"-", {}}, {"--5", {}}, {"e5", {}}, {"inf", {}}, {"1e999", {}}, {"&HZZ", {}}};
    for (const auto& [text, value] : rows) EXPECT_EQ(text_to_number(text), value) << '"' << text << '"';
}

TEST(NumberToText, ShortestTextThatReadsBack) {
    const std::pair<double, const char*> rows[] = {{0, "0"}, {-0.0, "0"}, {-350, "-350"}, {45.25, "45.25"},
                                                   {0.00001, "0.00001"}, {1e20, "1E+20"}, {-1.5e-7, "-1.5E-07"},
                                                   {123456789012345.0, "123456789012345"}};
    for (const auto& [value, text] : rows) EXPECT_EQ(number_to_text(value), text);
    EXPECT_EQ(single_to_text(0.1f), "0.1");
    for (double v : {0.1 + 0.2, 1.0 / 3.0, 46000.123456789, -9.87654321e-12, 5e300})
        EXPECT_EQ(text_to_number(number_to_text(v)), v) << number_to_text(v);
}

TEST(FormatNumber, PicturesAsTheRuntimeWritesThem) {
    const struct { double value; const char *picture, *text; } rows[] = {
        // Optional digits; a point in the picture is always written.
        {12, "#.#", "12."}, {12.34, "#.#", "12.3"}, {0, "#.#", "."}, {0.5, "#.00#", ".50"}, {1.2345, "#.00#", "1.235"},
        {0.045, ".###", ".045"}, {0, ".###", "."}, {0.9996, ".###", "1."}, {0, "##", ""}, {0.4, "#", ""},
        // Required digits pad with zeros; more digits than places are all written.
        {5, "00#", "005"}, {1234, "00#", "1234"}, {7, "0#", "07"}, {7, "#0", "7"}, {100, "0000", "0100"},
        {2, "0.0##", "2.0"}, {1.23456, "0.0##", "1.235"}, {0.25, ".000", ".250"}, {1.0 / 86400, "0.000000", "0.000012"},
        {1e20, "0", "100000000000000000000"},
        // Halves round away from zero at the last place, on the decimal the value shows.
        {2.5, "0", "3"}, {-2.5, "0", "-3"}, {59.5, "0", "60"}, {9.96, "0.0", "10.0"}, {1.0005, "0.000", "1.001"},
        {2.675, "0.00", "2.68"},
        // The sign goes when the value rounds to zero.
        {-0.0004, "0.0##", "0.0"}, {-0.04, "0.0", "0.0"}, {-1.5, "0.0", "-1.5"}, {-0.5, "#.00#", "-.50"},
        {12, "", "12"},
    };
    for (const auto& r : rows) EXPECT_EQ(format_number(r.value, r.picture), r.text) << r.value << " " << r.picture;
}

} // namespace
} // namespace ktr::platform
