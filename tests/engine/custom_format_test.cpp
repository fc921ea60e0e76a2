#include <gtest/gtest.h>

#include <string>

#include "engine/custom_format.h"
#include "engine_fixture.h"

namespace ktr::engine {
namespace {

using CustomFormat = EngineTest;

TEST_F(CustomFormat, OneStepOfTheScan) {
    struct Row { const char *server, *format; bool more; const char *chunk, *token, *server_rest, *format_rest; };
    const Row rows[] = {
        // Fixed tokens take their width; an element of exactly the width takes the whole format as token.
        {"2026-12-05", "yyyy-mm-dd", true, "2026", "yyyy", "-12-05", "-mm-dd"},
        {"Dec05", "mmmdd", true, "Dec", "mmm", "05", "dd"},
        {"5", "Hh:", false, "5", "Hh", "", ":"},  // narrower server text is taken as it is
        // Delimited tokens run to the separator, found case-insensitively; none there or at the front: nothing.
        {"5/12/2026", "d/m/yyyy", true, "5", "d", "12/2026", "m/yyyy"},
        {"December-5", "mmmm-d", true, "December", "mmmm", "5", "d"},
        {"5x12", "d/m", false, "", "", "5x12", "d/m"},
        {"5T12", "dtm", true, "5", "d", "12", "m"},
        // Literals, escapes and markers.
        {"-12", "-mm", true, "", "", "12", "mm"},
        {"d12", "\\dmm", true, "", "", "12", "mm"},
        {"PM", "AM/PM", false, "PM", "AM/PM", "", ""},
        {"PMx", "AMPMx", true, "PM", "AM", "x", "PMx"},
        // Bad tokens and empty formats end the element.
        {"05", "Hx", false, "", "", "05", "Hx"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.server) + " / " + r.format);
        std::string_view server = r.server, format = r.format;
        std::string chunk, token;
        EXPECT_EQ(next_format_chunk(server, format, chunk, token), r.more);
        EXPECT_EQ(chunk + "|" + token + "|" + std::string(server) + "|" + std::string(format),
                  std::string(r.chunk) + "|" + r.token + "|" + r.server_rest + "|" + r.format_rest);
    }
    EXPECT_TRUE(traced("Bad format string:_Hx_"));
}

TEST_F(CustomFormat, DateAndTimeTextsOrEmptyOnFailure) {
    clock_.set_utc(platform::make_date(2026, 3, 9, 12, 0, 0));
    struct Row { const char *server, *format; bool ok; const char *date, *time; };
    const Row rows[] = {
        {"2026-12-05 05:37:32", "yyyy-mm-dd Hh:Nn:Ss", true, "12/05/2026", "05:37:32 "},  // numeric month: slashes
        {"Dec-5-2026 5:37:32 PM", "mmm-d-yyyy h:N:S AM/PM", true, "Dec 5, 2026", "5:37:32 PM"},
        {"05:37:32", "Hh:Nn:Ss", true, "Mar 9, 2026", "05:37:32 "},  // missing date parts come from today
        {"2026-12-05 05:37:32 extra", "yyyy-mm-dd Hh:Nn:Ss", false, "", ""},
        {"2026-13-45 05:37:32", "yyyy-mm-dd Hh:Nn:Ss", false, "", ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.server);
        std::string date = "old", time = "old";
        EXPECT_EQ(Custom_parse_string(r.server, r.format, date, time), r.ok);
        EXPECT_EQ(date, r.date);
        EXPECT_EQ(time, r.time);
    }
    EXPECT_TRUE(traced("Error: Format String and Server String differ in number of elements."));
    EXPECT_TRUE(traced("Custom_parse_string: Failed date conversion: 13/45/2026 05:37:32 "));
}

} // namespace
} // namespace ktr::engine
