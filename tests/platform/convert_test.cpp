#include <gtest/gtest.h>

#include <limits>

#include "platform/convert.h"

namespace ktr::platform {
namespace {

TEST(LeadingNumber, ReadsTheNumberAtTheFrontAsTheRuntimeDoes) {
    const struct {
        const char* text;
        double value;
    } rows[] = {
        {"12abc", 12}, {"-3.5e2x", -350}, {".25", 0.25}, {"1.2.3", 1.2}, {"+7", 7},
        {"2e", 2},                                // an exponent without digits is not part of the number
        {"3D2", 300},                             // the runtime's other exponent letter
        {" 1 2", 12}, {"\t\n 42", 42}, {"1 2 . 5", 12.5}, {"- 3", -3},  // blanks before and between digits
        {"abc", 0}, {"", 0}, {"-", 0}, {".", 0}, {"UTC(NIST)", 0},
        {"1e999", 0},                             // overflow gives no usable number, not infinity
        {"&H1F", 31}, {"&O17", 15}, {"&HFFFF", -1}, {"&H10000", 65536}, {"&HFFFFFFFF", -1},
        {"&H1FFFFFFFF", 0}, {"&H", 0},            // beyond 32 bits; no digits
    };
    for (const auto& r : rows) EXPECT_EQ(leading_number(r.text), r.value) << '"' << r.text << '"';
}

TEST(SplitBlanks, EverySingleBlankSeparates) {
    using V = std::vector<std::string>;
    EXPECT_EQ(split_blanks("Sat Dec  5 05:37:32 2026"), (V{"Sat", "Dec", "", "5", "05:37:32", "2026"}));
    EXPECT_EQ(split_blanks(""), (V{""}));
    EXPECT_EQ(split_blanks(" "), (V{"", ""}));
    EXPECT_EQ(split_blanks("a\tb"), (V{"a\tb"}));  // only blanks separate
}

TEST(IntegerConversion, HalvesGoToTheEvenNeighbourAndOutOfRangeGivesNothing) {
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const struct {
        double value;
        std::optional<int16_t> int16;
        std::optional<int32_t> int32;
    } rows[] = {
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
    EXPECT_EQ(text_to_number(" -5.5 "), -5.5);
    EXPECT_EQ(text_to_number("+.5"), 0.5);
    EXPECT_EQ(text_to_number("5."), 5);
    EXPECT_EQ(text_to_number("1e3"), 1000);
    EXPECT_EQ(text_to_number("&H10"), 16);
    for (const char* bad : {"12abc", "1 2", "", "-", "--5", "e5", "inf", "1e999", "&HZZ"})
        EXPECT_EQ(text_to_number(bad), std::nullopt) << '"' << bad << '"';
}

TEST(NumberToText, ShortestTextThatReadsBack) {
    const struct {
        double value;
        const char* text;
    } rows[] = {{0, "0"}, {-0.0, "0"}, {-350, "-350"}, {45.25, "45.25"}, {0.00001, "0.00001"}, {1e20, "1E+20"},
                {-1.5e-7, "-1.5E-07"}, {123456789012345.0, "123456789012345"}};
    for (const auto& r : rows) EXPECT_EQ(number_to_text(r.value), r.text);
    EXPECT_EQ(single_to_text(0.1f), "0.1");
    for (double v : {0.1 + 0.2, 1.0 / 3.0, 46000.123456789, -9.87654321e-12, 5e300})
        EXPECT_EQ(text_to_number(number_to_text(v)), v) << number_to_text(v);
}

} // namespace
} // namespace ktr::platform
