#include <gtest/gtest.h>

#include <string>

#include "engine/custom_format.h"
#include "engine_test_support.h"
#include "fakes/fake_clock.h"
#include "fakes/scoped_locale.h"
#include "platform/date_value.h"

namespace ktr::engine {
namespace {

struct Step {
    bool more;
    std::string chunk, token, server_rest, format_rest;
};

Step step(std::string_view server, std::string_view format) {
    std::string chunk, token;
    const bool more = next_format_chunk(server, format, chunk, token);
    return {more, chunk, token, std::string(server), std::string(format)};
}

void expect_step(const Step& s, bool more, const char* chunk, const char* token, const char* server_rest,
                 const char* format_rest) {
    EXPECT_EQ(s.more, more);
    EXPECT_EQ(s.chunk, chunk);
    EXPECT_EQ(s.token, token);
    EXPECT_EQ(s.server_rest, server_rest);
    EXPECT_EQ(s.format_rest, format_rest);
}

TEST(FormatChunks, FixedTokensTakeTheirWidth) {
    expect_step(step("2026-12-05", "yyyy-mm-dd"), true, "2026", "yyyy", "-12-05", "-mm-dd");
    expect_step(step("12-05", "mm-dd"), true, "12", "mm", "-05", "-dd");
    expect_step(step("Dec05", "mmmdd"), true, "Dec", "mmm", "05", "dd");
    // A server element of exactly the width finishes the element with the whole format as its token.
    expect_step(step("05", "dd"), false, "05", "dd", "", "");
    expect_step(step("26", "yy"), false, "26", "yy", "", "");
    // Narrower server text is taken as it is.
    expect_step(step("5", "Hh:"), false, "5", "Hh", "", ":");
}

TEST(FormatChunks, DelimitedTokensRunToTheSeparator) {
    expect_step(step("5/12/2026", "d/m/yyyy"), true, "5", "d", "12/2026", "m/yyyy");
    expect_step(step("December-5", "mmmm-d"), true, "December", "mmmm", "5", "d");
    expect_step(step("17", "h"), false, "17", "h", "", "");
    // Separator missing, or at the very front: nothing is taken.
    expect_step(step("5x12", "d/m"), false, "", "", "5x12", "d/m");
    expect_step(step("/12", "d/m"), false, "", "", "/12", "d/m");
    // The separator is found case-insensitively.
    expect_step(step("5T12", "dtm"), true, "5", "d", "12", "m");
}

TEST(FormatChunks, LiteralsEscapesAndMarkers) {
    expect_step(step("-12", "-mm"), true, "", "", "12", "mm");
    expect_step(step("d12", "\\dmm"), true, "", "", "12", "mm");
    expect_step(step("PM", "AM/PM"), false, "PM", "AM/PM", "", "");
    expect_step(step("PMx", "AMPMx"), true, "PM", "AM", "x", "PMx");
    expect_step(step("p", "a/p"), false, "p", "a/p", "", "");
    EXPECT_TRUE(is_format_letter('N'));
    EXPECT_FALSE(is_format_letter('n'));
    EXPECT_FALSE(is_format_letter('\\'));
}

TEST(FormatChunks, BadTokensEndTheElement) {
    testing::DebugCapture log;
    expect_step(step("05", "Hx"), false, "", "", "05", "Hx");
    expect_step(step("x", "Ax"), false, "", "", "x", "Ax");
    EXPECT_TRUE(log.has("Bad format string:_Hx_"));
    expect_step(step("", ""), false, "", "", "", "");
    expect_step(step("abc", ""), false, "", "", "abc", "");
}

class CustomParser : public ::testing::Test {
protected:
    ktr::testing::FakeClock clock_{platform::make_date(2026, 3, 9, 12, 0, 0), 0, 0, 0};
    ktr::testing::ScopedFakeClock scoped_{clock_};
    ktr::testing::ScopedLocale locale_{platform::us_locale()};
    std::string date_ = "old", time_ = "old";
};

TEST_F(CustomParser, NumericMonthUsesTheSlashForm) {
    ASSERT_TRUE(Custom_parse_string("2026-12-05 05:37:32", "yyyy-mm-dd Hh:Nn:Ss", date_, time_));
    EXPECT_EQ(date_, "12/05/2026");
    EXPECT_EQ(time_, "05:37:32 ");
}

TEST_F(CustomParser, MonthNamesAndMarkers) {
    ASSERT_TRUE(Custom_parse_string("Dec-5-2026 5:37:32 PM", "mmm-d-yyyy h:N:S AM/PM", date_, time_));
    EXPECT_EQ(date_, "Dec 5, 2026");
    EXPECT_EQ(time_, "5:37:32 PM");
}

TEST_F(CustomParser, MissingDatePartsComeFromToday) {
    ASSERT_TRUE(Custom_parse_string("05:37:32", "Hh:Nn:Ss", date_, time_));
    EXPECT_EQ(date_, "Mar 9, 2026");
}

TEST_F(CustomParser, ElementCountMismatchAndBadDatesClearTheOutputs) {
    testing::DebugCapture log;
    EXPECT_FALSE(Custom_parse_string("2026-12-05 05:37:32 extra", "yyyy-mm-dd Hh:Nn:Ss", date_, time_));
    EXPECT_EQ(date_, "");
    EXPECT_EQ(time_, "");
    EXPECT_TRUE(log.has("Error: Format String and Server String differ in number of elements."));
    date_ = time_ = "old";
    EXPECT_FALSE(Custom_parse_string("2026-13-45 05:37:32", "yyyy-mm-dd Hh:Nn:Ss", date_, time_));
    EXPECT_EQ(date_, "");
    EXPECT_TRUE(log.has("Custom_parse_string: Failed date conversion: 13/45/2026 05:37:32 "));
    EXPECT_TRUE(log.has("Returned Chunk:_2026_ Format: _yyyy_"));
}

} // namespace
} // namespace ktr::engine
