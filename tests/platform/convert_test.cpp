#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/convert.h"

namespace ktr::platform {
namespace {

TEST(LeadingNumber, ReadsTheNumberAtTheFrontAndStops) {
    EXPECT_EQ(leading_number("12abc"), 12);
    EXPECT_EQ(leading_number("-3.5e2x"), -350);
    EXPECT_EQ(leading_number(".25"), 0.25);
    EXPECT_EQ(leading_number("1.2.3"), 1.2);
    EXPECT_EQ(leading_number("+7"), 7);
    EXPECT_EQ(leading_number("2e"), 2);      // an exponent without digits is not part of the number
    EXPECT_EQ(leading_number("3D2"), 300);   // the runtime's other exponent letter
}

TEST(LeadingNumber, IgnoresBlanksBeforeAndBetweenDigits) {
    EXPECT_EQ(leading_number(" 1 2"), 12);
    EXPECT_EQ(leading_number("\t\n 42"), 42);
    EXPECT_EQ(leading_number("1 2 . 5"), 12.5);
    EXPECT_EQ(leading_number("- 3"), -3);
}

TEST(LeadingNumber, TextThatDoesNotStartWithANumberGivesZero) {
    EXPECT_EQ(leading_number("abc"), 0);
    EXPECT_EQ(leading_number(""), 0);
    EXPECT_EQ(leading_number("-"), 0);
    EXPECT_EQ(leading_number("."), 0);
    EXPECT_EQ(leading_number("UTC(NIST)"), 0);
    EXPECT_EQ(leading_number("1e999"), 0); // overflow gives no usable number, not infinity
}

TEST(LeadingNumber, ReadsHexAndOctalAsSignedWords) {
    EXPECT_EQ(leading_number("&H1F"), 31);
    EXPECT_EQ(leading_number("&O17"), 15);
    EXPECT_EQ(leading_number("&HFFFF"), -1);
    EXPECT_EQ(leading_number("&H10000"), 65536);
    EXPECT_EQ(leading_number("&HFFFFFFFF"), -1);
    EXPECT_EQ(leading_number("&H1FFFFFFFF"), 0); // beyond 32 bits
    EXPECT_EQ(leading_number("&H"), 0);
}

TEST(SplitBlanks, EverySingleBlankSeparates) {
    using V = std::vector<std::string>;
    EXPECT_EQ(split_blanks("a b c"), (V{"a", "b", "c"}));
    EXPECT_EQ(split_blanks("Sat Dec  5 05:37:32 2026"), (V{"Sat", "Dec", "", "5", "05:37:32", "2026"}));
    EXPECT_EQ(split_blanks(""), (V{""}));
    EXPECT_EQ(split_blanks(" "), (V{"", ""}));
    EXPECT_EQ(split_blanks("a "), (V{"a", ""}));
    EXPECT_EQ(split_blanks("a\tb"), (V{"a\tb"})); // only blanks separate
}

TEST(IntegerConversion, HalvesGoToTheEvenNeighbour) {
    EXPECT_EQ(to_int16(2.5), 2);
    EXPECT_EQ(to_int16(3.5), 4);
    EXPECT_EQ(to_int16(-2.5), -2);
    EXPECT_EQ(to_int16(-3.5), -4);
    EXPECT_EQ(to_int16(2.5001), 3);
    EXPECT_EQ(to_int32(1.5), 2);
    EXPECT_EQ(to_int32(-1234567.5), -1234568);
}

TEST(IntegerConversion, OutOfRangeAndNonFiniteGiveNothing) {
    EXPECT_EQ(to_int16(32767.0), 32767);
    EXPECT_EQ(to_int16(32767.4), 32767);
    EXPECT_EQ(to_int16(32767.5), std::nullopt); // rounds to 32768
    EXPECT_EQ(to_int16(-32768.5), -32768);      // rounds to the even -32768
    EXPECT_EQ(to_int16(-32769.0), std::nullopt);
    EXPECT_EQ(to_int32(2147483647.0), 2147483647);
    EXPECT_EQ(to_int32(2147483647.5), std::nullopt);
    EXPECT_EQ(to_int32(-2147483648.0), -2147483647 - 1);
    EXPECT_EQ(to_int32(-2147483649.0), std::nullopt);
    EXPECT_EQ(to_int32(std::numeric_limits<double>::quiet_NaN()), std::nullopt);
    EXPECT_EQ(to_int32(std::numeric_limits<double>::infinity()), std::nullopt);
}

TEST(TextToNumber, TakesOnlyAWholeNumber) {
    EXPECT_EQ(text_to_number(" -5.5 "), -5.5);
    EXPECT_EQ(text_to_number("+.5"), 0.5);
    EXPECT_EQ(text_to_number("5."), 5);
    EXPECT_EQ(text_to_number("1e3"), 1000);
    EXPECT_EQ(text_to_number("&H10"), 16);
    EXPECT_EQ(text_to_number("12abc"), std::nullopt);
    EXPECT_EQ(text_to_number("1 2"), std::nullopt);
    EXPECT_EQ(text_to_number(""), std::nullopt);
    EXPECT_EQ(text_to_number("-"), std::nullopt);
    EXPECT_EQ(text_to_number("--5"), std::nullopt);
    EXPECT_EQ(text_to_number("e5"), std::nullopt);
    EXPECT_EQ(text_to_number("inf"), std::nullopt);
    EXPECT_EQ(text_to_number("1e999"), std::nullopt);
    EXPECT_EQ(text_to_number("&HZZ"), std::nullopt);
}

TEST(NumberToText, ShortestTextThatReadsBack) {
    EXPECT_EQ(number_to_text(0), "0");
    EXPECT_EQ(number_to_text(-0.0), "0");
    EXPECT_EQ(number_to_text(-350), "-350");
    EXPECT_EQ(number_to_text(0.5), "0.5");
    EXPECT_EQ(number_to_text(45.25), "45.25");
    EXPECT_EQ(number_to_text(0.00001), "0.00001");
    EXPECT_EQ(number_to_text(1e20), "1E+20");
    EXPECT_EQ(number_to_text(-1.5e-7), "-1.5E-07");
    EXPECT_EQ(number_to_text(123456789012345.0), "123456789012345");
    EXPECT_EQ(single_to_text(0.1f), "0.1");
    EXPECT_EQ(single_to_text(2.5f), "2.5");
    for (double v : {0.1 + 0.2, 1.0 / 3.0, 46000.123456789, -9.87654321e-12, 5e300})
        EXPECT_EQ(text_to_number(number_to_text(v)), v) << number_to_text(v);
}

} // namespace
} // namespace ktr::platform
