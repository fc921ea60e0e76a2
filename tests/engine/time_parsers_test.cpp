#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "engine/nist_timeset.h"
#include "engine_test_support.h"
#include "fakes/fake_clock.h"
#include "fakes/scoped_locale.h"
#include "platform/date_value.h"

namespace ktr::engine {
namespace {

// Every field a parser fills, in one line: julian date time dst leap health advance misc fraction command,
// then "ok" when the server passes its check.
std::string fields(const CNISTtimeset& e) {
    std::ostringstream out;
    out << e.NISTJulianDays() << ' ' << e.NISTDate() << ' ' << e.NISTTime() << ' ' << e.NISTDST() << ' '
        << e.NISTLeapSecFlag() << ' ' << e.NISTServerHealth() << ' ' << e.NISTAdvance() << ' ' << e.NISTMisc() << ' '
        << e.NISTSecFrac() << " [" << e.EntCmd() << "]" << (e.NIST_check_server() ? " ok" : "");
    return out.str();
}

struct Parse {
    const char* line;
    bool accepted;
    const char* fields;  // nullptr: not checked
};

// Runs the lines in order on one engine: fields a line lacks keep the previous line's values.
void expect_parses(bool (CNISTtimeset::*parse)(std::string_view), std::initializer_list<Parse> lines) {
    CNISTtimeset e;
    for (const Parse& p : lines) {
        SCOPED_TRACE(p.line);
        EXPECT_EQ((e.*parse)(p.line), p.accepted);
        if (p.fields) {
            EXPECT_EQ(fields(e), p.fields);
        }
    }
}

TEST(NistParser, FieldsOfEachLayoutAndWhatShortOrBadLinesKeep) {
    testing::DebugCapture log;
    expect_parses(&CNISTtimeset::NIST_parse_string, {
        {"57361 25-12-05 05:37:32 00 0 0 45.0 UTC(NIST) *", true,
          "57361 25-12-05 05:37:32 0 0 0 45 UTC(NIST) 0.5 [] ok"},
        {"Hello 25-12-05 05:37:32 00 0 0 45.0 UTC(NIST) *", false,
          "57361 25-12-05 05:37:32 0 0 0 45 UTC(NIST) 0.5 [] ok"},
        {"", false, "57361 25-12-05 05:37:32 0 0 0 45 UTC(NIST) 0.5 [] ok"},
        {"\xC3\xA9t\xC3\xA9 \xFF", false, "57361 25-12-05 05:37:32 0 0 0 45 UTC(NIST) 0.5 [] ok"},
        {"57362 25-12-06", true, "57362 25-12-06 05:37:32 0 0 0 45 UTC(NIST) 0.5 [] ok"},
        // The server check allows an advance of one second.
        {"57361 25-12-05 05:37:32 00 0 0 1000 UTC(NIST) *", true,
          "57361 25-12-05 05:37:32 0 0 0 1000 UTC(NIST) 0.5 [] ok"},
        {"57361 25-12-05 05:37:32 00 0 0 1000.1 UTC(NIST) *", true,
          "57361 25-12-05 05:37:32 0 0 0 1000.1 UTC(NIST) 0.5 []"},
        // Numbers out of range for their fields are refused one by one; text that is no number reads as 0.
        {"99999999999 25-12-07 05:37:33 99999 x 7 1e300 L *", true, "57361 25-12-07 05:37:33 0 0 7 1000.1 L 0.5 []"},
        {"25-12-05 05:37:32 50 1 2 45.0 UTC(NIST) #", true, "0 25-12-05 05:37:32 50 1 2 45 UTC(NIST) 0.5 []"},
        // Console set and force strings carry milliseconds and clear health and advance.
        {"S+ 12/05/2026 05:37:32 250", true, "0 12/05/2026 05:37:32 50 1 0 0 UTC(NIST) 0.25 [S] ok"},
        {"S+ 12/05/2026 05:37:32 abc", true, "0 12/05/2026 05:37:32 50 1 0 0 UTC(NIST) 0.25 [S] ok"},
        {"F+xyz 12/06/2026 06:00:00 5", true, "0 12/06/2026 06:00:00 50 1 0 0 UTC(NIST) 0.005 [F] ok"},
    });
    // Server replies may carry a decimal fraction.
    expect_parses(&CNISTtimeset::NIST_parse_string, {
        {"Server: 12/05/2026 05:37:32.5", true, "0 12/05/2026 05:37:32 0 0 0 0  0.5 [] ok"},
        {"OK-T 12/05/2026 05:37:33", true, "0 12/05/2026 05:37:33 0 0 0 0  0.5 [] ok"},
        {"tovanisoft: 12/05/2026 05:37:34.25", true, "0 12/05/2026 05:37:34 0 0 0 0  0.25 [] ok"},
    });
    EXPECT_TRUE(log.has("parse error of NIST string"));
    EXPECT_TRUE(log.has("NIST parse string - no Julian days."));
    EXPECT_TRUE(log.has("Time: _05:37:32_ frac: 0.5"));
}

TEST(ActsParser, ReadsTheActsLayoutAndIgnoresDut1) {
    testing::DebugCapture log;
    expect_parses(&CNISTtimeset::ACTS_parse_string, {
        {"57361 25-12-05 05:37:32 50 0 +.1 45.0 UTC(NIST) *", true,
          "57361 25-12-05 05:37:32 50 0 0 45 UTC(NIST) 0 [] ok"},
        {"25-12-06 05:37:33 00 0 -.2 12.5 UTC(NIST) *", true, "0 25-12-06 05:37:33 0 0 0 12.5 UTC(NIST) 0 [] ok"},
        {"S+ 12/05/2026 05:37:32 250", false, "0 25-12-06 05:37:33 0 0 0 12.5 UTC(NIST) 0 [] ok"},
        {"Server: 25-12-07", true, "0 25-12-07 05:37:33 0 0 0 0 UTC(NIST) 0 [] ok"},
    });
    EXPECT_TRUE(log.has("ACTS parse string - no Julian days."));
    EXPECT_TRUE(log.has("parse error of ACTS string"));
}

TEST(DaytimeParser, DayOfOneOrTwoDigitsZoneWordAndLineEnd) {
    ktr::testing::FakeClock clock{platform::make_date(2026, 12, 5, 12, 0, 0)};
    ktr::testing::ScopedFakeClock scoped{clock};
    ktr::testing::ScopedLocale locale{platform::us_locale()};
    testing::DebugCapture log;
    expect_parses(&CNISTtimeset::Daytime_parse_string, {
        {"Sat Dec  5 05:37:32 2026", true, "0 Dec 5, 2026 05:37:32 0 0 0 0  0.5 [] ok"},
        {"Sat Dec  6 05:37:33 UTC 2026", true, "0 Dec 6, 2026 05:37:33 0 0 0 0  0.5 [] ok"},
        {"Sat Dec 15 05:37:34 2026\r\n", true, "0 Dec 15, 2026 05:37:34 0 0 0 0  0.5 [] ok"},
        {"Sat Foo 45 05:37:32 2026", false, nullptr},
        {"", false, nullptr},
    });
    EXPECT_TRUE(log.has("Trimming year:_2026\r\n_"));
    EXPECT_TRUE(log.has("Date field error in Daytime string"));
    EXPECT_TRUE(log.has("parse error of Daytime string"));
}

} // namespace
} // namespace ktr::engine
